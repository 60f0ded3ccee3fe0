// The thumbnails of a fax's pages, in the fax's order, each captioned with
// its document and page there, a line naming the documents with their
// pages, and the buttons that turn and remove the chosen page. Pages move
// by drag and by Ctrl+Up / Ctrl+Down; Delete removes the chosen one. It
// edits the composer's pages and tells every edit through the composer.
#pragma once

#include <QHash>
#include <QImage>
#include <QTimer>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

class FaxComposer;

// A page's picture `size` high at most, with its document's turns: a
// turned page shows upright on a portrait page as it will be sent.
QImage PageThumbnail(const QImage& upright, int quarterTurns, QSize size);

class FaxPagesView : public QWidget {
    Q_OBJECT
  public:
    FaxPagesView(AppPaths& paths, FaxComposer& composer, QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    QPushButton* turnButton() const { return turn_; }
    QPushButton* removeButton() const { return remove_; }
    // Texts in the loaded language again (after Options).
    void applyTexts();
    // Shows the pages as they stand.
    void refresh();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int current() const;
    void select(int index);
    void moveBy(int delta);
    void turnCurrent();
    void removeCurrent();
    void rowsMoved(int from, int to);
    // Draws the next thumbnail not drawn yet: one per turn of the event loop.
    void drawNext();

    AppPaths& paths_;
    FaxComposer& composer_;
    QLabel* documents_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* turn_ = nullptr;
    QPushButton* remove_ = nullptr;
    QHash<quint64, QImage> pictures_;  // by document and page, upright
    QTimer drawing_;
    bool refreshing_ = false;
};

}  // namespace miravo::ui
