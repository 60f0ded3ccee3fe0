// The program's own viewer for fax documents, for desktops without a
// viewer for TIFF files: one page at a time, page n of N, previous and
// next, and the page fitted into the window or shown at full size. Fax
// pages have finer lines than columns (204 x 196 dpi); the page is shown
// in its true proportions.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

class QLabel;

namespace miravo {
class LanguageTable;
}
class QPushButton;
class QScrollArea;

namespace miravo::ui {

class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    // Texts come from `language`, which outlives the window.
    explicit PreviewWindow(const LanguageTable& language, QWidget* owner = nullptr);

    // Shows `path` from its first page under the caption `title` (the
    // document's name, not the name of the file that holds it); a file
    // that is missing or holds no readable page gives a window that says so.
    void open(const QString& path, const QString& title);

    int pageCount() const { return pageCount_; }
    int currentPage() const { return current_; }  // from 1; 0 without pages
    // The line above the page: "Page n of N", or why nothing can be shown.
    QString statusText() const;
    bool fitToWindow() const;
    const QImage& page() const { return page_; }

    void showPage(int number);
    void setFitToWindow(bool on);

    // Puts the window where `place` ("x,y,width,height") says and writes
    // its place and size back there when it is hidden or closed; `place`
    // outlives the window.
    void keepPlaceIn(std::u16string* place);

    ~PreviewWindow() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void render();

    const LanguageTable& language_;
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
    std::u16string* place_ = nullptr;
};

// The one preview window of `owner`, made on first use and reused after,
// showing `path` under `title`.
// `place` (may be null) keeps where the window was between runs.
PreviewWindow* ShowInPreviewWindow(QWidget* owner, const LanguageTable& language,
                                   const QString& path, const QString& title,
                                   std::u16string* place = nullptr);

}  // namespace miravo::ui
