#include "ui/MessageBoxes.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

QString ProductTitle() {
    return QStringLiteral("Miravo 3.0.1");
}

void TellDocumentNotConverted(AppPaths& paths, QWidget* owner, const QString& fileName,
                              int failedPage) {
    // The refusal says what can be sent instead; a page that cannot be
    // read is named, as its kind of file is not the trouble.
    const LanguageTable& language = paths.state->language;
    const std::u16string message =
        failedPage > 0 ? GetText(language, text::kImagePageUnreadable, u16str(fileName), failedPage)
                       : GetText(language, text::kDocumentNotConverted, u16str(fileName)) + u"\n" +
                             GetText(language, text::kSendableDocuments);
    QMessageBox box(QMessageBox::Warning, ProductTitle(), qstr(message), QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("documentRefused"));
    box.exec();
}

void ReserveCaptionRoom(QMessageBox& box) {
    // The frame's buttons and icon take about as much again as the caption.
    const int captionRoom = 2 * box.fontMetrics().horizontalAdvance(box.windowTitle()) +
                            4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    // QMessageBox ignores a minimum width; a spacer across its grid counts.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionRoom, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

bool ConfirmDiscardWork(QWidget* window, const LanguageTable& language) {
    QMessageBox box(QMessageBox::Question, window ? window->windowTitle() : ProductTitle(),
                    qstr(GetText(language, text::kDiscardWorkQuestion)), QMessageBox::NoButton,
                    window);
    box.setObjectName(QStringLiteral("discardWork"));
    QPushButton* discard =
        box.addButton(qstr(GetText(language, text::kDiscardWork)), QMessageBox::DestructiveRole);
    discard->setObjectName(QStringLiteral("discard"));
    QPushButton* keep =
        box.addButton(qstr(GetText(language, text::kKeepWork)), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    ReserveCaptionRoom(box);
    box.exec();
    return box.clickedButton() == discard;
}

}  // namespace miravo::ui
