#include "ui/FaxPagesView.h"

#include <QAbstractItemModel>
#include <QBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/TextIds.h"
#include "ui/DialogControls.h"
#include "ui/FaxComposer.h"

namespace miravo::ui {

namespace {

// The thumbnail's height; its width follows the fax page's true shape.
constexpr int kThumbHeight = 84;
const QSize kThumbSize(qRound(kThumbHeight * (1728.0 / 204) / (2292.0 / 196)), kThumbHeight);

quint64 pictureKey(const FaxPage& page) {
    return (static_cast<quint64>(page.document) << 32) | static_cast<quint32>(page.page);
}

// A fax page shrunk to `size`: each thumbnail pixel as grey as the share
// of black among the page pixels it covers.
QImage shrink(const BitPage& bits, QSize size) {
    const int w = size.width(), h = size.height();
    std::vector<int> black(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < bits.height; ++y) {
        int* row = black.data() + static_cast<std::size_t>(y * h / bits.height) * w;
        const std::uint8_t* bytes = bits.row(y);
        for (int x = 0; x < bits.width; x += 8) {
            if (const std::uint8_t b = bytes[x / 8])
                row[x * w / bits.width] += __builtin_popcount(b);
        }
    }
    const double perPixel = (static_cast<double>(bits.width) / w) * (static_cast<double>(bits.height) / h);
    QImage out(size, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* line = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            // Text is thin: its share is made darker to stay visible.
            const double share = std::min(1.0, 3.0 * black[static_cast<std::size_t>(y) * w + x] / perPixel);
            line[x] = static_cast<uchar>(255 - qRound(255 * share));
        }
    }
    return out;
}

}  // namespace

QImage PageThumbnail(const QImage& upright, int quarterTurns, QSize size) {
    QImage page(size, QImage::Format_RGB32);
    page.fill(Qt::white);
    if (upright.isNull())
        return page;
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const QImage turned = turns == 0 ? upright : upright.transformed(QTransform().rotate(90 * turns));
    // As sent: the turned page fitted upright onto a portrait page, centred.
    const QImage fitted = turned.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&page);
    painter.drawImage((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2,
                      fitted);
    return page;
}

namespace {

// The page on its place in the strip: a sheet with an edge, its place in
// the fax written below it. The chosen page shows on the highlight as it
// is, not tinted by the style (which would hide its number).
QIcon sheet(const QImage& page, int place, QSize size) {
    QImage out(size + QSize(0, 14), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.drawImage(0, 0, page);
    painter.setPen(QColor(110, 110, 110));
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    // On a white tab, so that it reads on the highlight of the chosen page.
    const QString number = QString::number(place);
    const int width = painter.fontMetrics().horizontalAdvance(number) + 6;
    const QRect tab((size.width() - width) / 2, size.height() + 1, width, 13);
    painter.fillRect(tab, Qt::white);
    painter.drawText(tab, Qt::AlignCenter, number);
    const QPixmap pixmap = QPixmap::fromImage(out);
    QIcon icon(pixmap);
    icon.addPixmap(pixmap, QIcon::Selected);
    return icon;
}

}  // namespace

FaxPagesView::FaxPagesView(AppPaths& paths, FaxComposer& composer, QWidget* parent)
    : QWidget(parent), paths_(paths), composer_(composer) {
    setObjectName(QStringLiteral("faxPages"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    documents_ = new QLabel(this);
    documents_->setObjectName(QStringLiteral("faxDocuments"));
    documents_->setWordWrap(true);
    column->addWidget(documents_);
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("faxPageList"));
    list_->setViewMode(QListView::ListMode);
    list_->setFlow(QListView::LeftToRight);
    list_->setWrapping(false);
    list_->setIconSize(kThumbSize + QSize(0, 14));
    // Grey around the white sheets.
    QPalette around = list_->palette();
    around.setColor(QPalette::Base, QColor(225, 225, 225));
    list_->setPalette(around);
    list_->setSpacing(3);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFixedHeight(kThumbSize.height() + 18 + 2 * 3 + 2 * list_->frameWidth() +
                          list_->horizontalScrollBar()->sizeHint().height() + 4);
    list_->installEventFilter(this);
    row->addWidget(list_, 1);
    auto* buttons = new QVBoxLayout;
    row->addLayout(buttons);
    turn_ = new QPushButton(this);
    turn_->setObjectName(QStringLiteral("turnPage"));
    remove_ = new QPushButton(this);
    remove_->setObjectName(QStringLiteral("removePage"));
    for (QPushButton* button : {turn_, remove_}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    connect(turn_, &QPushButton::clicked, this, [this] { turnCurrent(); });
    connect(remove_, &QPushButton::clicked, this, [this] { removeCurrent(); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        // Not while the list is filled again: a button losing its enabled
        // state for a moment would lose the keyboard focus for good.
        if (refreshing_)
            return;
        turn_->setEnabled(row >= 0);
        remove_->setEnabled(row >= 0);
    });
    // A page dragged to another place: the fax follows once the drop is over.
    connect(list_->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int start, int, const QModelIndex&, int row) {
                if (refreshing_)
                    return;
                const int to = row > start ? row - 1 : row;
                QMetaObject::invokeMethod(
                    this, [this, start, to] { rowsMoved(start, to); }, Qt::QueuedConnection);
            });
    connect(&composer_, &FaxComposer::changed, this, [this] { refresh(); });
    drawing_.setInterval(0);
    connect(&drawing_, &QTimer::timeout, this, [this] { drawNext(); });
    applyTexts();
    refresh();
}

void FaxPagesView::applyTexts() {
    const LanguageTable& language = paths_.state->language;
    turn_->setText(qstr(GetText(language, text::kTurnPage)));
    remove_->setText(qstr(GetText(language, text::kRemovePage)));
    list_->setAccessibleName(qstr(GetText(language, text::kFaxPagesList)));
    list_->setToolTip(qstr(GetText(language, text::kFaxPagesHint)));
    list_->setAccessibleDescription(list_->toolTip());
    refresh();
}

void FaxPagesView::refresh() {
    const FaxPages& fax = composer_.pages();
    const LanguageTable& language = paths_.state->language;
    const int keep = current();
    refreshing_ = true;
    list_->clear();
    for (int i = 0; i < fax.pageCount(); ++i) {
        const FaxPage& page = fax.pages()[static_cast<std::size_t>(i)];
        const FaxDocument& document = fax.documents()[static_cast<std::size_t>(page.document)];
        auto* item = new QListWidgetItem(list_);
        const QString caption = qstr(GetText(language, text::kPageCaption, document.name,
                                             static_cast<long long>(page.page + 1)));
        item->setToolTip(caption);
        item->setData(Qt::AccessibleTextRole, caption);
        item->setSizeHint(kThumbSize + QSize(4, 18));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        const auto picture = pictures_.constFind(pictureKey(page));
        item->setIcon(sheet(PageThumbnail(picture == pictures_.constEnd() ? QImage() : *picture,
                                          page.quarterTurns, kThumbSize),
                            i + 1, kThumbSize));
    }
    select(keep < 0 ? 0 : std::min(keep, fax.pageCount() - 1));
    refreshing_ = false;
    QStringList lines;
    for (std::size_t d = 0; d < fax.documents().size(); ++d) {
        const int pages = fax.pagesOf(static_cast<int>(d));
        if (pages > 0)
            lines << qstr(GetText(language, text::kFaxDocumentLine, fax.documents()[d].name,
                                  static_cast<long long>(pages)));
    }
    documents_->setText(lines.join(QStringLiteral(", ")));
    documents_->setVisible(!lines.isEmpty());
    setVisible(!fax.empty());
    turn_->setEnabled(current() >= 0);
    remove_->setEnabled(current() >= 0);
    if (!drawing_.isActive())
        drawing_.start();
}

void FaxPagesView::drawNext() {
    const FaxPages& fax = composer_.pages();
    for (int i = 0; i < fax.pageCount(); ++i) {
        const FaxPage& page = fax.pages()[static_cast<std::size_t>(i)];
        if (pictures_.contains(pictureKey(page)))
            continue;
        BitPage bits;
        const auto& file = fax.documents()[static_cast<std::size_t>(page.document)].tiff;
        float xDpi = 204, yDpi = 196;
        QImage picture;
        if (ReadTiffPage(file, page.page, bits, &xDpi, &yDpi) && bits.width > 0) {
            // True proportions at the page's own resolutions.
            const double across = bits.width / std::max(1.0f, xDpi);
            const double down = bits.height / std::max(1.0f, yDpi);
            const int height = kThumbSize.height() * 2;
            picture = shrink(bits, QSize(std::max(1, qRound(height * across / down)), height));
        } else {
            picture = QImage(1, 1, QImage::Format_Grayscale8);
            picture.fill(200);
        }
        pictures_.insert(pictureKey(page), picture);
        if (QListWidgetItem* item = list_->item(i))
            item->setIcon(sheet(PageThumbnail(picture, page.quarterTurns, kThumbSize), i + 1,
                                kThumbSize));
        return;  // one a turn, so that the window stays quick
    }
    drawing_.stop();
}

int FaxPagesView::current() const {
    return list_->currentRow();
}

void FaxPagesView::select(int index) {
    if (index < 0 || index >= list_->count())
        return;
    list_->setCurrentRow(index);
    list_->scrollToItem(list_->item(index));
}

void FaxPagesView::moveBy(int delta) {
    const int from = current();
    const int to = from + delta;
    if (from < 0 || !composer_.pages().move(from, to))
        return;
    composer_.edited();
    select(to);
}

void FaxPagesView::rowsMoved(int from, int to) {
    if (!composer_.pages().move(from, to)) {
        refresh();
        return;
    }
    composer_.edited();
    select(to);
}

void FaxPagesView::turnCurrent() {
    const int index = current();
    if (!composer_.pages().turn(index))
        return;
    composer_.edited();
    select(index);
}

void FaxPagesView::removeCurrent() {
    const int index = current();
    if (!composer_.pages().remove(index))
        return;
    composer_.edited();
    select(std::min(index, composer_.pages().pageCount() - 1));
    if (composer_.pages().empty())
        focusNextChild();
}

bool FaxPagesView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool control = key->modifiers() & Qt::ControlModifier;
        if (control && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Left)) {
            moveBy(-1);
            return true;
        }
        if (control && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Right)) {
            moveBy(1);
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            removeCurrent();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace miravo::ui
