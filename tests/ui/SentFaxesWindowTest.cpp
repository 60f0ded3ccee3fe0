// The "Sent faxes" window: the table, search and details of a journal, the
// CSV export, and Refresh against miravo-server.
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTableView>
#include <QTreeWidget>
#include <cstdlib>
#include <thread>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "tests/server/ServerHarness.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Mnemonics.h"
#include "ui/Dialogs.h"
#include "ui/SendDialog.h"
#include "ui/SentFaxesModel.h"
#include "ui/SentFaxesWindow.h"
#include "ui/StatusWindow.h"
#include "ui/PreviewWindow.h"
#include "journal/SentDocuments.h"
#include <QPlainTextEdit>
#include <QCheckBox>

namespace miravo::ui::test {
namespace {

class SentFaxesWindowTest : public UiTest {
  protected:
    std::int64_t record(std::u16string title, std::int64_t at,
                        std::vector<std::pair<std::u16string, std::u16string>> to) {
        JournalSend s;
        s.sentAt = at;
        s.title = std::move(title);
        s.pages = 1;
        s.faxId = u"1";
        for (auto& [number, name] : to)
            s.destinations.push_back({number, name, u"", u"", 0, false, 0});
        return journal_.recordTransfer(s);
    }

    Journal journal_;  // in the test's folder
};

TEST_F(SentFaxesWindowTest, SearchDetailsAndExport) {
    record(u"Invoice", 1000, {{u"+4930111", u"Tax office"}});
    const auto contract = record(u"Contract", 2000, {{u"+4930222", u"Bank"}, {u"+4930333", u""}});
    journal_.recordStatus(contract, {{u"+4930222", u"0.10", u"OK"}}, 0.1, state().language);

    SentFaxesWindow window(paths());
    SentFaxesModel* model = window.model();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(0, SentFaxesModel::DocumentColumn).data().toString(), "Contract");
    EXPECT_EQ(model->index(0, SentFaxesModel::OutcomeColumn).data().toString(),
              "1 OK, 1 under way");
    EXPECT_EQ(model->index(0, SentFaxesModel::CostColumn).data().toString(), "0.10 EUR");
    ASSERT_EQ(window.details()->topLevelItemCount(), 2);  // the newest is selected
    EXPECT_EQ(window.details()->topLevelItem(0)->text(2), "OK");  // the code only when it says more
    EXPECT_EQ(window.details()->topLevelItem(1)->text(2), "under way");

    struct Case {
        QString search;
        QStringList titles;
    } cases[] = {{"tax OFFICE", {"Invoice"}}, {"+4930", {"Contract", "Invoice"}}, {"none", {}}};
    for (const Case& c : cases) {
        window.searchBox()->setText(c.search);
        QStringList titles;
        for (int row = 0; row < model->rowCount(); ++row)
            titles << model->index(row, SentFaxesModel::DocumentColumn).data().toString();
        EXPECT_EQ(titles, c.titles) << c.search.toStdString();
    }

    window.searchBox()->clear();
    window.table()->selectRow(1);
    const auto file = dataDir() / "export.csv";
    ASSERT_TRUE(window.exportTo(QString::fromStdString(file.string()), true));
    const std::string one = miravo::test::readBytes(file);
    EXPECT_NE(one.find(",Invoice,"), std::string::npos) << one;
    EXPECT_EQ(one.find(",Contract,"), std::string::npos) << one;
    ASSERT_TRUE(window.exportTo(QString::fromStdString(file.string()), false));
    const std::string all = miravo::test::readBytes(file);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4) << all;  // header + 3 destinations
}

// Every text the window shows of its own, in the order it shows them.
QStringList OwnTexts(SentFaxesWindow& window) {
    QStringList texts = {window.windowTitle(), window.searchBox()->placeholderText()};
    const QAbstractItemModel* table = window.model();
    for (int c = 0; c < table->columnCount(); ++c)
        texts << table->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    texts << table->index(0, SentFaxesModel::OutcomeColumn).data().toString();
    for (int c = 0; c < window.details()->columnCount(); ++c)
        texts << window.details()->headerItem()->text(c);
    texts << window.details()->topLevelItem(0)->text(2);
    // The summary's facts but the document's title.
    texts << window.summary()->text().section(QStringLiteral(" · "), 1);
    for (QAbstractButton* button : window.findChild<QDialogButtonBox*>()->buttons())
        texts << WithoutMnemonic(button->text());
    return texts;
}

TEST_F(SentFaxesWindowTest, SpeaksTheLoadedLanguage) {
    JournalSend send;
    send.sentAt = 1000;
    send.title = u"Invoice";
    send.pages = 2;
    send.cover = true;
    send.reportOptions = u"NO";
    send.faxId = u"20417";
    send.destinations.push_back({u"+4930111", u"Tax office", u"", u"", 0, false, 0});
    send.destinations.push_back({u"+4930222", u"Bank", u"", u"", 0, false, 0});
    journal_.recordStatus(journal_.recordTransfer(send), {{u"+4930222", u"0.20", u"NF"}}, 0,
                          state().language);

    std::map<std::string, QStringList> shown;
    for (const std::string code : {"en", "de", "ru"}) {
        ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, fromUtf8(code)), 1);
        SentFaxesWindow window(paths());
        shown[code] = OwnTexts(window);
        if (code == "ru") {
            SendDialog send(paths());
            EXPECT_EQ(WithoutMnemonic(send.findChild<QPushButton*>("sentFaxes")->text()), window.windowTitle());
        }
    }
    ASSERT_EQ(shown["en"].size(), 20) << shown["en"].join('|').toStdString();
    // German writes a few of these words as English does.
    const QStringList shared = {"Name", "Status"};
    for (const std::string code : {"de", "ru"}) {
        ASSERT_EQ(shown[code].size(), shown["en"].size()) << code;
        for (qsizetype i = 0; i < shown["en"].size(); ++i) {
            const QString& own = shown[code][i];
            EXPECT_FALSE(own.isEmpty()) << code << " text " << i;
            if (code == "ru" || !shared.contains(own))
                EXPECT_NE(own, shown["en"][i]) << code << " text " << i;
        }
    }
}

TEST_F(SentFaxesWindowTest, OpensFromTheSendDialog) {
    record(u"Invoice", 1000, {{u"+4930111", u""}});
    int rows = -1;
    const auto shown = whenModal("id104", [&](QDialog* send) {
        whenModal("sentFaxes", [&](QDialog* window) {
            rows = static_cast<SentFaxesWindow*>(window)->model()->rowCount();
            window->reject();
        });
        click(send->findChild<QPushButton*>("sentFaxes"));
        closeDiscardingWork(send);
    });
    RunSendDialog(paths());
    EXPECT_TRUE(*shown);
    EXPECT_EQ(rows, 1);
}

// Sends through the status window against miravo-server.
class SentFaxesSendTest : public SentFaxesWindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start()) << server_.output();
        state().settings = server::test::transportSettings(server_);
        state().settings.userName = u"demo@miravo.test";
        state().settings.password = u"demo";
        state().settings.timeoutMs = 40;
        miravo::test::writeBytes(dataDir() / "letter_res__1.tif", server::test::faxDocument());
        state().job.documentPath = fromUtf8((dataDir() / "letter_res__1.tif").string());
        for (const char16_t* number : {u"+49 30 1234567", u"+49 30 1234501"}) {
            Recipient r;
            r.kind = Single;
            r.number = number;
            r.name = u"Anna";
            state().job.recipients.push_back(r);
        }
    }

    // The status window until `leave` says it may be closed.
    void sendThroughTheStatusWindow(const std::function<bool(StatusWindow&)>& leave) {
        StatusWindow status(paths(), nullptr);
        SendOptions fast;
        fast.timing.stepPauseMs = fast.timing.pollPauseMs = 20;
        status.setSendOptions(fast);
        QTimer::singleShot(0, &status, [&] {
            auto* close = find<QPushButton>(&status, 2);
            EXPECT_TRUE(waitFor([&] { return close->isEnabled() && leave(status); }));
            // Closed while the fax is under way: stop following it here.
            whenModal("stopFollowingQuestion", [](QDialog* box) {
                auto* question = static_cast<QMessageBox*>(box);
                for (QAbstractButton* button : question->buttons())
                    if (question->buttonRole(button) == QMessageBox::AcceptRole)
                        button->click();
            }, 3000);
            click(close);
        });
        status.exec();
    }

    server::test::ServerProcess server_{
        {"--quiet", "--version-port", "-1", "--min-poll-interval", "0", "--delivery-time", "800"}};
};

TEST_F(SentFaxesSendTest, SendIsRecordedWithItsFinalStatuses) {
    sendThroughTheStatusWindow([](StatusWindow& status) {
        // Polling over: every destination's list is offered.
        return !status.destinationDetails().isHidden();
    });
    const auto sends = journal_.sends(journal_.find({}));
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].title, u"letter_res__1");
    EXPECT_EQ(sends[0].pages, 1);
    ASSERT_EQ(sends[0].destinations.size(), 2u);
    EXPECT_EQ(sends[0].destinations[0].statusCode, u"OK");
    EXPECT_EQ(sends[0].destinations[0].name, u"Anna");
    EXPECT_EQ(sends[0].destinations[1].statusCode, u"NA");
    EXPECT_DOUBLE_EQ(sends[0].totalCost, 0.1);  // one page delivered
}

TEST_F(SentFaxesSendTest, KeptDocumentIsViewedReportedAndSentAgain) {
    state().job.coverPageOn = true;
    state().job.coverText = u"Please sign";
    sendThroughTheStatusWindow([](StatusWindow& status) {
        return !status.destinationDetails().isHidden();
    });
    const std::int64_t id = journal_.latest();
    const JournalSend sent = *journal_.send(id);
    // The window's send kept exactly what the service received.
    EXPECT_EQ(miravo::test::readBytes(KeptDocumentPath(journal_, id)),
              miravo::test::readBytes(server_.dataDir() / "faxes" / toUtf8(sent.faxId) /
                                      "document.tif"));

    SentFaxesWindow window(paths());
    EXPECT_TRUE(window.viewButton()->isEnabled());
    EXPECT_TRUE(window.sendAgainFailedButton()->isEnabled());
    window.viewDocument();
    auto* preview = window.findChild<PreviewWindow*>();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->pageCount(), 1);
    const miravo::test::TempDir out;
    EXPECT_TRUE(window.saveReport(QString::fromStdString((out / "report.pdf").string())));
    EXPECT_EQ(miravo::test::readBytes(out / "report.pdf").rfind("%PDF", 0), 0u);

    // Send again to the failed destination: the dialog holds that number
    // only, the cover text, and the document of the record.
    QString number, second, cover, document;
    const auto shown = whenModal("id104", [&](QDialog* dialog) {
        number = dialog->findChild<QLineEdit*>("id1001")->text();
        second = dialog->findChild<QLineEdit*>("id1002")->text();
        cover = dialog->findChild<QPlainTextEdit*>()->toPlainText();
        document = qstr(state().job.documentPath);
        EXPECT_EQ(miravo::test::readBytes(document.toStdString()),
                  miravo::test::readBytes(KeptDocumentPath(journal_, id)));
        EXPECT_EQ(state().job.repeatsRecord, id);
        closeDiscardingWork(dialog);
    });
    window.sendAgain(true);
    EXPECT_TRUE(*shown);
    EXPECT_EQ(number, "+49 30 1234501");
    EXPECT_TRUE(second.isEmpty());
    EXPECT_EQ(cover, "Please sign");
    // The job the window was opened over is given back.
    EXPECT_EQ(state().job.coverText, u"Please sign");
    EXPECT_EQ(state().job.repeatsRecord, 0);
    EXPECT_NE(qstr(state().job.documentPath), document);

    // Sent through the dialog and the status window: that number only,
    // the same bytes at the service, and a record that names the first.
    state().settings.closeWindow = true;  // the status window closes by itself
    const auto sentAgain = whenModal("id104", [&](QDialog* dialog) {
        click(dialog->findChild<QPushButton*>("id1"));
    });
    window.sendAgain(true);
    EXPECT_TRUE(*sentAgain);
    const std::int64_t again = journal_.latest();
    ASSERT_EQ(again, id + 1);
    const JournalSend repeated = *journal_.send(again);
    ASSERT_EQ(repeated.destinations.size(), 1u);
    EXPECT_EQ(repeated.destinations[0].number, u"+49 30 1234501");
    EXPECT_EQ(journal_.keeping(again).repeats, id);
    EXPECT_EQ(repeated.title, sent.title);
    EXPECT_EQ(miravo::test::readBytes(server_.dataDir() / "faxes" / toUtf8(repeated.faxId) /
                                      "document.tif"),
              miravo::test::readBytes(KeptDocumentPath(journal_, id)));

    // Another document chosen in the dialog makes it a send of its own:
    // its record repeats nothing and has the new document's name.
    const std::filesystem::path offer = dataDir() / "offer.png";
    QImage page(400, 300, QImage::Format_RGB32);
    page.fill(Qt::white);
    ASSERT_TRUE(page.save(QString::fromStdString(offer.string())));
    const auto replaced = whenModal("id104", [&](QDialog* dialog) {
        EXPECT_TRUE(static_cast<SendDialog*>(dialog)->takeDocument(
            QString::fromStdString(offer.string())));
        click(dialog->findChild<QPushButton*>("id1"));
    });
    window.sendAgain(true);
    EXPECT_TRUE(*replaced);
    const std::int64_t other = journal_.latest();
    ASSERT_EQ(other, again + 1);
    EXPECT_EQ(journal_.keeping(other).repeats, 0);
    EXPECT_NE(journal_.send(other)->title, sent.title);

    // A removed document can no longer be viewed or sent again.
    ApplyRetention(journal_, 0, 0, JournalNow() + 1);
    SentFaxesWindow after(paths());
    EXPECT_FALSE(after.viewButton()->isEnabled());
    EXPECT_FALSE(after.sendAgainAllButton()->isEnabled());
    EXPECT_TRUE(after.reportButton()->isEnabled());
}

TEST_F(SentFaxesSendTest, SendClosedWhileUnderWayBecomesFinalAfterRefresh) {
    // Closed as soon as the transfer was answered, with both destinations under way.
    sendThroughTheStatusWindow([](StatusWindow& status) {
        return !find<QLabel>(&status, 1038)->text().isEmpty();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(900));

    SentFaxesWindow window(paths());
    ASSERT_EQ(window.model()->index(0, SentFaxesModel::OutcomeColumn).data().toString(),
              "2 under way");
    window.refresh();
    ASSERT_TRUE(waitFor([&] { return window.refreshButton()->isEnabled(); }));
    EXPECT_EQ(window.statusLine()->text(), "Faxes asked about: 1, statuses changed: 2.");
    EXPECT_EQ(window.model()->index(0, SentFaxesModel::OutcomeColumn).data().toString(),
              "1 OK, 1 failed");
    EXPECT_EQ(window.details()->topLevelItem(0)->text(2), "OK");  // the code only when it says more
    EXPECT_EQ(window.details()->topLevelItem(1)->text(2), "No answer [NA]");
}

// With MIRAVO_SCREENSHOTS=<folder> (scripts/screenshots.sh), the window
// over a journal of a few weeks is saved there as sent-faxes.png, or in the
// language MIRAVO_SCREENSHOT_LANG names as sent-faxes-<code>.png.
TEST_F(SentFaxesWindowTest, Screenshot) {
    const QByteArray folder = qgetenv("MIRAVO_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "no MIRAVO_SCREENSHOTS folder";
    const std::int64_t day = 86400, start = 1764576000 + 9 * 3600;
    struct Sent {
        std::u16string title;
        std::int64_t at;
        std::vector<std::pair<std::u16string, std::u16string>> to;
        std::vector<DestinationStatus> answer;
    } sends[] = {
        {u"Tax return 2025", start, {{u"+49 30 9028 1100", u"Finanzamt Mitte"}},
         {{u"+49 30 9028 1100", u"0.30", u"OK"}}},
        {u"Offer 4711", start + 2 * day + 3600,
         {{u"+49 40 3861 2200", u"Sales North"}, {u"+49 40 3861 2201", u"Sales North"},
          {u"+49 89 2180 4455", u"Anna Berger"}},
         {{u"+49 40 3861 2200", u"0.20", u"BU"}, {u"+49 40 3861 2201", u"0.20", u"OK"},
          {u"+49 89 2180 4455", u"0.20", u"OK"}}},
        {u"Lease termination", start + 6 * day + 5400, {{u"+49 221 470 3303", u"Hausverwaltung"}},
         {{u"+49 221 470 3303", u"0.00", u"NF"}}},
        {u"Order confirmation", start + 9 * day + 1800, {{u"+44 20 7946 0018", u"Harbour Ltd"}},
         {{u"+44 20 7946 0018", u"0.40", u"OK"}}},
        {u"Invoice 2025-118", start + 13 * day + 600,
         {{u"+49 30 1234567", u"Anna Berger"}, {u"+33 1 42 00 00 11", u""}},
         {{u"+49 30 1234567", u"0.30", u"OK"}}},
    };
    int faxId = 20417;
    for (const Sent& s : sends) {
        JournalSend send;
        send.sentAt = s.at;
        send.title = s.title;
        send.pages = 1 + faxId % 4;
        send.cover = faxId % 2 == 0;
        send.reportOptions = u"NO";
        send.faxId = toU16(static_cast<long>(++faxId));
        send.estimatedCost = 0.1 * send.pages * static_cast<double>(s.to.size());
        for (const auto& [number, name] : s.to)
            send.destinations.push_back({number, name, u"", u"", 0, false, 0});
        const auto id = journal_.recordTransfer(send);
        double total = 0;
        for (const auto& a : s.answer)
            total += DecimalValue(a.cost);
        journal_.recordStatus(id, s.answer, total, state().language);
        // Each send's document is kept, as a send keeps it.
        miravo::test::writeBytes(dataDir() / "kept_res__1.tif", server::test::faxDocument());
        KeepSentDocument(journal_, id, dataDir() / "kept_res__1.tif", {});
    }
    const QString code = qEnvironmentVariable("MIRAVO_SCREENSHOT_LANG", "en");
    ASSERT_EQ(LoadLanguage(state().language, paths().languageFile, u16str(code)), 1);
    SentFaxesWindow window(paths());
    window.resize(980, 520);
    window.show();
    window.table()->selectRow(3);  // a send with a failed destination: every action offered
    QTest::qWait(200);
    const QString name = code == "en" ? "sent-faxes" : "sent-faxes-" + code;
    EXPECT_TRUE(window.grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png", "PNG"));
    // The selected send's transmission report, its first page as a picture.
    const QString report = QString::fromLocal8Bit(folder) + "/" +
                           (code == "en" ? QString("transmission-report")
                                         : "transmission-report-" + code);
    ASSERT_TRUE(window.saveReport(report + ".pdf"));
    EXPECT_EQ(std::system(("pdftoppm -png -r 60 -singlefile '" + report + ".pdf' '" + report + "'")
                              .toLocal8Bit()
                              .constData()),
              0);
    std::remove((report + ".pdf").toLocal8Bit().constData());
}

}  // namespace
}  // namespace miravo::ui::test
