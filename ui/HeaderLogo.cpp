#include "ui/HeaderLogo.h"

#include <QImage>
#include <QPainter>

#include "app/AppState.h"
#include "app/DialogTexts.h"

namespace miravo::ui {

HeaderLogo::HeaderLogo(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HeaderLogo::setState(const AppState* state) {
    state_ = state;
    update();
}

QSize HeaderLogo::sizeHint() const {
    // The strip of the dialog templates: 302 x 35 dialog units, about 60
    // pixels high at the usual dialog font.
    return {453, 60};
}

void HeaderLogo::paintEvent(QPaintEvent*) {
    if (!state_ || !state_->logo)
        return;
    const QImage& logo = *state_->logo;
    const QRect item = rect();
    const LogoRect place = HeaderLogoRect(item.x(), item.y(), item.x() + item.width(),
                                          item.y() + item.height(), logo.width(), logo.height());
    if (place.empty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(place.x, place.y, place.width, place.height), logo);
}

}  // namespace miravo::ui
