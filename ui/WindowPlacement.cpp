#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace miravo::ui {

std::u16string PlacementOf(const QWidget* window, bool withSize) {
    const QRect frame = window->frameGeometry();
    const QSize size = withSize ? window->size() : QSize(0, 0);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(frame.x())
        .arg(frame.y())
        .arg(size.width())
        .arg(size.height())
        .toStdU16String();
}

void ApplyPlacement(QWidget* window, const std::u16string& placement) {
    const QStringList parts = QString::fromStdU16String(placement).split(QLatin1Char(','));
    if (parts.size() != 4)
        return;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || values[i] < -100000 || values[i] > 100000)
            return;
    }
    const QPoint corner(values[0], values[1]);
    // The title bar's corner must be on a screen, or the window could not be reached.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().contains(corner + QPoint(20, 10));
    if (!onScreen)
        return;
    if (values[2] > 0 && values[3] > 0)
        window->resize(QSize(values[2], values[3]).expandedTo(window->minimumSize()));
    window->move(corner);
}

}  // namespace miravo::ui
