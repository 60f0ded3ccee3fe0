// The program's own viewer for fax documents, for desktops without a
// viewer for TIFF files: one page at a time, page n of N, previous and
// next, and the page fitted into the window or shown at full size. Fax
// pages have finer lines than columns (204 x 196 dpi); the page is shown
// in its true proportions.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;

namespace miravo::ui {

class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    // Opens `path`; a file that is missing or holds no readable page gives
    // a window that says so.
    explicit PreviewWindow(const QString& path, QWidget* owner = nullptr);

    int pageCount() const { return pageCount_; }
    int currentPage() const { return current_; }  // from 1; 0 without pages
    // The line above the page: "Page n of N", or why nothing can be shown.
    QString statusText() const;
    bool fitToWindow() const;
    const QImage& page() const { return page_; }

    void showPage(int number);
    void setFitToWindow(bool on);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void render();

    QString path_;
    int pageCount_ = 0;
    int current_ = 0;
    QImage page_;
    QLabel* status_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* fit_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QLabel* view_ = nullptr;
};

}  // namespace miravo::ui
