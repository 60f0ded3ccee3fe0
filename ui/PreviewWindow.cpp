#include "ui/PreviewWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "app/LanguageTable.h"
#include "ui/AccessibleNames.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/Mnemonics.h"
#include "ui/TextIds.h"
#include "ui/WindowPlacement.h"

namespace miravo::ui {

namespace {

// A page in its true proportions: fax resolutions differ across and down.
QImage squarePixels(const QImage& image) {
    const int xDots = image.dotsPerMeterX();
    const int yDots = image.dotsPerMeterY();
    if (xDots <= 0 || yDots <= 0 || xDots == yDots)
        return image;
    const int height =
        std::max(1, static_cast<int>(static_cast<qint64>(image.height()) * xDots / yDots));
    return image.scaled(image.width(), height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

PreviewWindow::PreviewWindow(const LanguageTable& language, QWidget* owner)
    : QWidget(owner, Qt::Window), language_(language) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowIcon(ApplicationIcon());

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    previous_ = new QPushButton(qstr(GetText(language_, text::kPreviousPage)), this);
    next_ = new QPushButton(qstr(GetText(language_, text::kNextPage)), this);
    fit_ = new QPushButton(qstr(GetText(language_, text::kFitToWindow)), this);
    fit_->setCheckable(true);
    fit_->setChecked(true);
    scroll_ = new QScrollArea(this);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    view_ = new QLabel;
    view_->setAlignment(Qt::AlignCenter);
    scroll_->setWidget(view_);
    scroll_->setWidgetResizable(false);
    scroll_->viewport()->installEventFilter(this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(previous_);
    bar->addWidget(next_);
    bar->addWidget(status_, 1);
    bar->addWidget(fit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(scroll_, 1);

    connect(previous_, &QPushButton::clicked, this, [this] { showPage(current_ - 1); });
    connect(next_, &QPushButton::clicked, this, [this] { showPage(current_ + 1); });
    connect(fit_, &QPushButton::toggled, this, [this] { render(); });
    // Escape and Ctrl+W close the preview, as they close a viewer.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    AssignMnemonics(this);
    // A page's shape, as tall as the screen leaves room for (with the frame).
    QSize size(620, 800);
    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        constexpr int kFrameRoom = 48;
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(QSize(room.width(), room.height() - kFrameRoom));
    }
    resize(size);
    ApplyAccessibleNames(this, language);
}

void PreviewWindow::open(const QString& path, const QString& title) {
    path_ = path;
    setWindowTitle(title.isEmpty() ? QStringLiteral("Miravo") : title);
    pageCount_ = 0;
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        if (reader.canRead())
            pageCount_ = std::max(1, reader.imageCount());
    }
    showPage(1);
}

QString PreviewWindow::statusText() const {
    return status_->text();
}

bool PreviewWindow::fitToWindow() const {
    return fit_->isChecked();
}

void PreviewWindow::setFitToWindow(bool on) {
    fit_->setChecked(on);
}

void PreviewWindow::showPage(int number) {
    page_ = QImage();
    current_ = 0;
    if (pageCount_ > 0) {
        current_ = std::clamp(number, 1, pageCount_);
        QImageReader reader(path_);
        reader.setDecideFormatFromContent(true);
        if (current_ == 1 || reader.jumpToImage(current_ - 1))
            page_ = squarePixels(reader.read());
    }
    if (pageCount_ == 0) {
        const int why = QFileInfo(path_).isFile() ? text::kNoShowablePage : text::kNoSuchDocument;
        status_->setText(qstr(GetText(language_, why, u16str(path_))));
    } else {
        const int line = page_.isNull() ? text::kPageUnreadable : text::kPageOfPages;
        status_->setText(qstr(GetText(language_, line, current_, pageCount_)));
    }
    previous_->setEnabled(current_ > 1);
    next_->setEnabled(current_ > 0 && current_ < pageCount_);
    fit_->setEnabled(!page_.isNull());
    render();
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    // The page follows the room the scroll area gives it.
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize && fitToWindow())
        render();
    return QWidget::eventFilter(watched, event);
}

void PreviewWindow::render() {
    if (page_.isNull()) {
        // Why there is nothing to see, where the page would be.
        view_->setText(status_->text());
        view_->setWordWrap(true);
        view_->resize(view_->sizeHint());
        return;
    }
    QImage shown = page_;
    if (fitToWindow()) {
        const QSize room = scroll_->viewport()->size() - QSize(2, 2);
        if (room.width() > 0 && room.height() > 0)
            shown = page_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    view_->setPixmap(QPixmap::fromImage(shown));
    view_->resize(shown.size());
}

PreviewWindow::~PreviewWindow() {
    if (place_ && isVisible())
        *place_ = PlacementOf(this);
}

void PreviewWindow::keepPlaceIn(std::u16string* place) {
    place_ = place;
    if (place_)
        ApplyPlacement(this, *place_);
}

void PreviewWindow::hideEvent(QHideEvent* event) {
    if (place_)
        *place_ = PlacementOf(this);
    QWidget::hideEvent(event);
}

PreviewWindow* ShowInPreviewWindow(QWidget* owner, const LanguageTable& language,
                                   const QString& path, const QString& title,
                                   std::u16string* place) {
    // One window for the run: another preview replaces what it shows.
    static QPointer<PreviewWindow> window;
    if (!window || window->parentWidget() != owner) {
        delete window.data();
        window = new PreviewWindow(language, owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->keepPlaceIn(place);
    }
    window->open(path, title);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace miravo::ui
