// The offer of waiting print jobs: convert one, or discard them.
#include "ui/WaitingJobsDialog.h"

#include "app/LanguageTable.h"
#include "ui/Mnemonics.h"

#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace miravo::ui {
namespace {

std::vector<print::WaitingJob> twoJobs() {
    return {{"/spool/A__ps__job_1", "A", 2, 0}, {"/spool/B__ps__job_2", "B", 5, 0}};
}

TEST(WaitingJobsDialog, ListsTheJobsAndConvertsTheChosenOne) {
    std::vector<std::string> discarded;
    WaitingJobsDialog dialog(LanguageTable{}, twoJobs(), [&](const print::WaitingJob& job) {
        discarded.push_back(job.title);
    });
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("jobs"));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("B"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("5"));

    dialog.findChild<QPushButton*>(QStringLiteral("discard"))->click();  // the first, A
    EXPECT_EQ(discarded, std::vector<std::string>{"A"});
    ASSERT_EQ(list->topLevelItemCount(), 1);
    list->setCurrentItem(list->topLevelItem(0));
    dialog.findChild<QPushButton*>(QStringLiteral("convert"))->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosen(), std::filesystem::path("/spool/B__ps__job_2"));
}

TEST(WaitingJobsDialog, DiscardingEveryJobClosesItWithNothingChosen) {
    int discards = 0;
    WaitingJobsDialog dialog(LanguageTable{}, twoJobs(), [&](const print::WaitingJob&) { ++discards; });
    dialog.show();
    auto* discard = dialog.findChild<QPushButton*>(QStringLiteral("discard"));
    discard->click();
    discard->click();
    EXPECT_EQ(discards, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.chosen().has_value());
}

TEST(WaitingJobsDialog, TextsComeFromTheLanguageFile) {
    struct Case {
        const char16_t* code;
        const char* title;
        const char* discard;
    };
    for (const Case& c : {Case{u"en", "Miravo - waiting print jobs", "Discard"},
                          Case{u"de", "Miravo - wartende Druckaufträge", "Verwerfen"},
                          Case{u"ru", "Miravo - ожидающие задания печати", "Удалить"}}) {
        LanguageTable language;
        LoadLanguage(language, u"" MIRAVO_SOURCE_DIR "/data/lang.ini", c.code);
        WaitingJobsDialog dialog(language, twoJobs(), [](const print::WaitingJob&) {});
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(WithoutMnemonic(dialog.findChild<QPushButton*>(QStringLiteral("discard"))->text()),
                  QString::fromUtf8(c.discard));
    }
}

}  // namespace
}  // namespace miravo::ui
