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

namespace {

// The first line of what a library said, short enough for one line.
QString detailsLine(const std::string& details) {
    QString line = QString::fromUtf8(details).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.size() > 160)
        line = line.left(159) + QChar(0x2026);
    return line;
}

}  // namespace

QString ProductTitle() {
    return QStringLiteral("Miravo 3.0.1");
}

void TellDocumentNotConverted(AppPaths& paths, QWidget* owner, const QString& fileName,
                              DocumentProblem problem, const std::string& details, int failedPage) {
    const LanguageTable& language = paths.state->language;
    // Not converted, for a reason nobody named: the file must be at fault.
    if (problem == DocumentProblem::None)
        problem = DocumentProblem::Damaged;
    const std::u16string message =
        DocumentProblemText(language, problem, u16str(fileName), failedPage);
    if (message.empty())
        return;
    QMessageBox box(QMessageBox::Warning, ProductTitle(), qstr(message), QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("documentRefused"));
    if (const QString line = detailsLine(details); !line.isEmpty())
        box.setInformativeText(qstr(GetText(language, text::kProblemDetails, u16str(line))));
    ReserveCaptionRoom(box);
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
