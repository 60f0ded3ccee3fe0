#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace miravo::ui {

namespace {

// Room for a title bar and borders the window manager adds to a window
// that has not been shown yet (once shown, its real frame is known).
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 40;

std::optional<QRect> parsed(const std::u16string& placement) {
    const QStringList parts = QString::fromStdU16String(placement).split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || values[i] < -100000 || values[i] > 100000)
            return std::nullopt;
    }
    return QRect(values[0], values[1], std::max(0, values[2]), std::max(0, values[3]));
}

QSize frameExtra(const QWidget* window) {
    const QSize extra = window->frameGeometry().size() - window->size();
    return window->isVisible() && !extra.isEmpty() ? extra : QSize(kFrameWidth, kFrameHeight);
}

}  // namespace

std::u16string PlacementOf(const QWidget* window, QSize size) {
    const QRect frame = window->frameGeometry();
    if (!size.isValid())
        size = window->size();
    return QStringLiteral("%1,%2,%3,%4")
        .arg(frame.x())
        .arg(frame.y())
        .arg(size.width())
        .arg(size.height())
        .toStdU16String();
}

void ApplyPlacement(QWidget* window, const std::u16string& placement) {
    const std::optional<QRect> kept = parsed(placement);
    if (!kept)
        return;
    // The screen whose free area holds the title bar's corner.
    const QPoint corner = kept->topLeft();
    const QScreen* screen = nullptr;
    for (const QScreen* s : QGuiApplication::screens()) {
        if (!screen && s->availableGeometry().contains(corner + QPoint(20, 10)))
            screen = s;
    }
    const QScreen* sizing = screen ? screen : window->screen();
    if (!sizing)
        sizing = QGuiApplication::primaryScreen();
    if (!sizing)
        return;
    const QRect room = sizing->availableGeometry();
    const QSize extra = frameExtra(window);
    const QSize most = (room.size() - extra).expandedTo(QSize(1, 1));
    if (!kept->isEmpty()) {
        const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
        window->resize(kept->size().expandedTo(least).boundedTo(most));
    } else if (window->width() > most.width() || window->height() > most.height()) {
        window->resize(window->size().boundedTo(most));
    }
    if (!screen)
        return;
    // A window never resized yet takes the size its layout asks for when shown.
    const QSize size = window->testAttribute(Qt::WA_Resized) ? window->size()
                                                              : window->sizeHint().boundedTo(most);
    const QSize frame = size + extra;
    const int x = std::clamp(corner.x(), room.left(),
                             std::max(room.left(), room.right() + 1 - frame.width()));
    const int y = std::clamp(corner.y(), room.top(),
                             std::max(room.top(), room.bottom() + 1 - frame.height()));
    window->move(x, y);
}

}  // namespace miravo::ui
