#include "ui/MessageBoxes.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>

namespace miravo::ui {

void ReserveCaptionRoom(QMessageBox& box) {
    // The frame's buttons and icon take about as much again as the caption.
    const int captionRoom = 2 * box.fontMetrics().horizontalAdvance(box.windowTitle()) +
                            4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    // QMessageBox ignores a minimum width; a spacer across its grid counts.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionRoom, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace miravo::ui
