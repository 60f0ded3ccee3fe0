// Showing a fax document (PreviewDocument of ui/Dialogs.h): the desktop's
// viewer for TIFF files when one is registered, the program's own page
// viewer otherwise.
#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace miravo::ui {

using PreviewHandler = std::function<void(QWidget* owner, const std::u16string& documentPath)>;

// Replaces what PreviewDocument does (tests record the calls instead of
// opening viewers); an empty handler restores the desktop behaviour.
void SetPreviewHandler(PreviewHandler handler);

// The desktop entry `xdg-mime` names as the default application for
// image/tiff; empty when there is none or the query does not answer
// within a second.
QString DesktopTiffViewer();

}  // namespace miravo::ui
