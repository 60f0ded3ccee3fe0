#include "ui/PreviewWindow.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Icons.h"

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

PreviewWindow::PreviewWindow(const QString& path, QWidget* owner)
    : QWidget(owner, Qt::Window), path_(path) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowIcon(ApplicationIcon());
    setWindowTitle(QFileInfo(path).fileName().isEmpty() ? QStringLiteral("Miravo")
                                                        : QFileInfo(path).fileName());

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    previous_ = new QPushButton(tr("Previous"), this);
    next_ = new QPushButton(tr("Next"), this);
    fit_ = new QPushButton(tr("Fit to window"), this);
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

    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        if (reader.canRead())
            pageCount_ = std::max(1, reader.imageCount());
    }
    resize(620, 800);
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
        status_->setText(QFileInfo(path_).isFile()
                             ? tr("The document %1 holds no page that can be shown.").arg(path_)
                             : tr("The document %1 does not exist.").arg(path_));
    } else if (page_.isNull()) {
        status_->setText(tr("Page %1 of %2 cannot be read.").arg(current_).arg(pageCount_));
    } else {
        status_->setText(tr("Page %1 of %2").arg(current_).arg(pageCount_));
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

}  // namespace miravo::ui
