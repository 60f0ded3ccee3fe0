// Draws the icon of an action column (edit, delete) in the middle of its
// cell, as a button would sit, rather than at the cell's left edge.
#pragma once

#include <QStyledItemDelegate>

namespace miravo::ui {

class IconCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace miravo::ui
