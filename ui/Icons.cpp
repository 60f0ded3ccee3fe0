#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace miravo::ui {

namespace {

// An icon drawn at the usual sizes by `paint`, which draws into a square
// of side 64.
QIcon drawnIcon(const std::function<void(QPainter&)>& paint) {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 64.0, side / 64.0);
        paint(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon themed(const char* name, const std::function<void(QPainter&)>& paint) {
    return QIcon::fromTheme(QString::fromLatin1(name), drawnIcon(paint));
}

void sheet(QPainter& p, QRectF r, const QColor& edge) {
    p.setPen(QPen(edge, 3));
    p.setBrush(Qt::white);
    p.drawRoundedRect(r, 3, 3);
}

}  // namespace

QIcon ApplicationIcon() {
    // A fax sheet leaving on a blue arrow.
    static const QIcon icon = drawnIcon([](QPainter& p) {
        sheet(p, QRectF(10, 4, 36, 48), QColor(60, 60, 70));
        p.setPen(QPen(QColor(120, 120, 130), 3));
        for (int y = 16; y <= 40; y += 8)
            p.drawLine(QPointF(17, y), QPointF(39, y));
        QPainterPath arrow;
        arrow.moveTo(30, 44);
        arrow.lineTo(48, 44);
        arrow.lineTo(48, 36);
        arrow.lineTo(62, 50);
        arrow.lineTo(48, 64);
        arrow.lineTo(48, 56);
        arrow.lineTo(30, 56);
        arrow.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(25, 25, 255));
        p.drawPath(arrow);
    });
    return icon;
}

QIcon EditIcon() {
    return themed("document-edit", [](QPainter& p) {
        p.translate(32, 32);
        p.rotate(45);
        p.setPen(QPen(QColor(80, 60, 20), 3));
        p.setBrush(QColor(240, 190, 60));
        p.drawRect(QRectF(-8, -28, 16, 42));
        p.setBrush(QColor(250, 220, 170));
        QPainterPath tip;
        tip.moveTo(-8, 14);
        tip.lineTo(8, 14);
        tip.lineTo(0, 28);
        tip.closeSubpath();
        p.drawPath(tip);
    });
}

QIcon DeleteIcon() {
    return themed("edit-delete", [](QPainter& p) {
        p.setPen(QPen(QColor(200, 30, 30), 10, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 14), QPointF(50, 50));
        p.drawLine(QPointF(50, 14), QPointF(14, 50));
    });
}

QIcon ContactBookIcon() {
    return themed("x-office-address-book", [](QPainter& p) {
        p.setPen(QPen(QColor(40, 50, 90), 3));
        p.setBrush(QColor(70, 110, 190));
        p.drawRoundedRect(QRectF(12, 4, 42, 56), 4, 4);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(33, 24), 8, 8);
        p.drawRoundedRect(QRectF(21, 34, 24, 14), 6, 6);
        p.setPen(QPen(QColor(40, 50, 90), 3));
        for (int y = 12; y <= 52; y += 10)
            p.drawLine(QPointF(8, y), QPointF(16, y));
    });
}

QIcon MassFaxIcon() {
    return themed("mail-send", [](QPainter& p) {
        const QColor edge(60, 60, 70);
        sheet(p, QRectF(22, 4, 34, 42), edge);
        sheet(p, QRectF(15, 11, 34, 42), edge);
        sheet(p, QRectF(8, 18, 34, 42), edge);
        p.setPen(QPen(QColor(120, 120, 130), 3));
        for (int y = 28; y <= 48; y += 8)
            p.drawLine(QPointF(14, y), QPointF(36, y));
    });
}

}  // namespace miravo::ui
