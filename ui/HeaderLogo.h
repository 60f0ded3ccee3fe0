// The header strip every main dialog carries (control 1008): paints the
// logo of the current language, kept in AppState, at the place
// HeaderLogoRect gives for the strip.
#pragma once

#include <QWidget>

namespace miravo {
struct AppState;
}

namespace miravo::ui {

class HeaderLogo : public QWidget {
    Q_OBJECT
  public:
    explicit HeaderLogo(QWidget* parent = nullptr);

    // The record whose logo is painted; none paints nothing.
    void setState(const AppState* state);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const AppState* state_ = nullptr;
};

}  // namespace miravo::ui
