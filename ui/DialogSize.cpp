#include "ui/DialogSize.h"

#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace miravo::ui {

QSize ContentSize(QWidget* window) {
    QLayout* layout = window ? window->layout() : nullptr;
    if (!layout)
        return window ? window->size() : QSize();
    layout->activate();
    QSize size = layout->totalSizeHint().expandedTo(window->minimumSize());
    if (layout->hasHeightForWidth())
        size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
    return size;
}

void FitToContents(QWidget* window) {
    QSize size = ContentSize(window);
    if (!size.isValid())
        return;
    if (const QScreen* screen = window->screen())
        size = size.boundedTo(screen->availableGeometry().size());
    window->resize(size);
}

}  // namespace miravo::ui
