#include "ui/IconCellDelegate.h"

#include <QApplication>
#include <QPainter>

namespace miravo::ui {

void IconCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const QIcon icon = cell.icon;
    // The cell as usual (background, selection, focus), without its icon.
    cell.icon = QIcon();
    cell.features &= ~QStyleOptionViewItem::HasDecoration;
    QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
    if (icon.isNull())
        return;
    QRect square(QPoint(), cell.decorationSize);
    square.moveCenter(cell.rect.center());
    const QIcon::Mode mode = !(cell.state & QStyle::State_Enabled)   ? QIcon::Disabled
                             : (cell.state & QStyle::State_Selected) ? QIcon::Selected
                                                                     : QIcon::Normal;
    icon.paint(painter, square, Qt::AlignCenter, mode);
}

}  // namespace miravo::ui
