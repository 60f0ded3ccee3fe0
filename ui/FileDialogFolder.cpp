#include "ui/FileDialogFolder.h"

#include <QDir>
#include <QFileInfo>

#include "app/Paths.h"
#include "app/SettingsStore.h"
#include "ui/DialogControls.h"

namespace miravo::ui {

QString FileDialogFolder(const std::u16string& remembered) {
    const QString folder = qstr(remembered);
    if (!folder.isEmpty() && QFileInfo(folder).isAbsolute() && QFileInfo(folder).isDir())
        return folder;
    return qstr(DocumentsFolder());
}

void RememberFileDialogFolder(std::u16string& remembered, const QString& chosenFile) {
    if (chosenFile.isEmpty())
        return;
    const std::u16string folder = u16str(QFileInfo(chosenFile).absolutePath());
    if (folder.size() < kPathWidth)
        remembered = folder;
}

}  // namespace miravo::ui
