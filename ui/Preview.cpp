#include "ui/Preview.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/PreviewWindow.h"

namespace miravo::ui {

namespace {

constexpr int kQueryTimeoutMs = 1000;

PreviewHandler& previewHandler() {
    static PreviewHandler handler;
    return handler;
}

}  // namespace

void SetPreviewHandler(PreviewHandler handler) {
    previewHandler() = std::move(handler);
}

QString DesktopTiffViewer() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("image/tiff")});
    if (!query.waitForStarted(kQueryTimeoutMs))
        return {};
    if (!query.waitForFinished(kQueryTimeoutMs)) {
        query.kill();
        query.waitForFinished(kQueryTimeoutMs);
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

void PreviewDocument(QWidget* owner, const LanguageTable& language,
                     const std::u16string& documentPath, const QString& title,
                     std::u16string* place) {
    if (const PreviewHandler& handler = previewHandler()) {
        handler(owner, documentPath);
        return;
    }
    const QString path = qstr(documentPath);
    // A document that is not there goes to the own viewer, which says so,
    // rather than to a desktop program that may fail without a word.
    if (!path.isEmpty() && QFileInfo(path).isFile() && !DesktopTiffViewer().isEmpty() &&
        QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    ShowInPreviewWindow(owner, language, path, title, place);
}

}  // namespace miravo::ui
