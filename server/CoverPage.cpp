#include "server/CoverPage.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <memory>
#include <mutex>

#include "server/FaxTiffIo.h"

namespace miravo::server {

namespace {

constexpr int kWidth = 1728;
constexpr int kHeight = 2292;
// Fax pixels are taller than wide (204 × 196 dpi): drawing in a space that is
// 204/196 times taller keeps letters in their proportions on paper.
constexpr double kVerticalScale = 196.0 / 204.0;
constexpr int kMargin = 110;
constexpr int kMaxListed = 12;

QFont font(int pixelSize, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Line ends of any kind become the line separator that QTextLayout breaks at.
QString withLineSeparators(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar(u'\r'), QChar(u'\n'));
    text.replace(QChar(u'\n'), QChar::LineSeparator);
    return text;
}

// Lays the text out in lines of `width` from the top; the lines that end
// within `height`.
int layOut(QTextLayout& layout, int width, int height) {
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    qreal y = 0;
    int fitting = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        if (y <= height)
            ++fitting;
    }
    layout.endLayout();
    return fitting;
}

// Drops the last character (both halves of a surrogate pair).
void chopCharacter(QString& text) {
    const qsizetype n = text.size();
    text.chop(n >= 2 && text[n - 1].isLowSurrogate() && text[n - 2].isHighSurrogate() ? 2 : 1);
}

// The text in the box: as large as it fits, down to the smallest type;
// beyond that the lines that fit, the last one ending in "…".
void drawText(QPainter& painter, const QRect& box, const QString& given, CoverTextFit& fit) {
    const QString text = withLineSeparators(given);
    const int width = box.width(), height = box.height();
    auto laidOut = [&](const QString& t, int px, int& fitting) {
        auto layout = std::make_unique<QTextLayout>(t, font(px));
        fitting = layOut(*layout, width, height);
        return layout;
    };
    // The largest size whose lines all fit (fitting is near enough
    // monotonic in the size for a bisection).
    int fitting = 0;
    int low = kSmallestCoverTextPx, high = kLargestCoverTextPx;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        auto layout = laidOut(text, middle, fitting);
        if (fitting == layout->lineCount())
            low = middle;
        else
            high = middle - 1;
    }
    auto layout = laidOut(text, low, fitting);
    QString drawn = text;
    if (fitting < layout->lineCount()) {
        // Cut after the last line that fits; "…" takes the place of what
        // does not fit beside it.
        const QTextLine last = layout->lineAt(std::max(fitting - 1, 0));
        drawn = text.left(fitting > 0 ? last.textStart() + last.textLength() : 0);
        while (!drawn.isEmpty() && (drawn.back().isSpace() || drawn.back() == QChar::LineSeparator))
            chopCharacter(drawn);
        const QString ellipsis(QChar(0x2026));
        for (;;) {
            layout = laidOut(drawn + ellipsis, low, fitting);
            if (fitting == layout->lineCount() || drawn.isEmpty())
                break;
            chopCharacter(drawn);
        }
        drawn += ellipsis;
        fit.cut = true;
    }
    layout->draw(&painter, box.topLeft());
    fit.pixelSize = low;
    drawn.replace(QChar::LineSeparator, QChar(u'\n'));
    fit.drawn = drawn.toStdString();
}

}  // namespace

std::string renderCoverPage(const CoverRequest& request, CoverTextFit* fit) {
    if (!QGuiApplication::instance())
        return {};
    // Font handling is shared by the whole program; one page at a time.
    static std::mutex mutex;
    std::lock_guard lock(mutex);

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.scale(1.0, kVerticalScale);
        painter.setPen(QPen(Qt::black, 4));
        const int width = kWidth - 2 * kMargin;
        const int bottom = static_cast<int>(kHeight / kVerticalScale) - kMargin;
        int y = kMargin;

        painter.setFont(font(120, true));
        painter.drawText(QRect(kMargin, y, width, 150), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("FAX"));
        y += 170;
        painter.drawLine(kMargin, y, kMargin + width, y);
        y += 40;

        painter.setFont(font(40));
        const QFontMetrics metrics(painter.font());
        const int line = metrics.height() + 8;
        auto row = [&](const QString& label, const QString& value) {
            painter.drawText(QRect(kMargin, y, 300, line), Qt::AlignLeft | Qt::AlignVCenter, label);
            painter.drawText(QRect(kMargin + 300, y, width - 300, line),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(value, Qt::ElideRight, width - 300));
            y += line;
        };
        row(QStringLiteral("Date:"),
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
        if (!request.sender.empty())
            row(QStringLiteral("From:"), fromUtf8(request.sender));
        row(QStringLiteral("Pages:"),
            QStringLiteral("%1 (including this page)").arg(request.pageCount));
        const int listed = std::min<int>(kMaxListed, static_cast<int>(request.destinations.size()));
        for (int i = 0; i < listed; ++i) {
            const auto& [number, name] = request.destinations[static_cast<std::size_t>(i)];
            QString entry = fromUtf8(number);
            if (!name.empty())
                entry = fromUtf8(name) + QStringLiteral("  ") + entry;
            row(i == 0 ? QStringLiteral("To:") : QString(), entry);
        }
        if (request.destinations.size() > static_cast<std::size_t>(listed))
            row(QString(), QStringLiteral("and %1 more").arg(request.destinations.size() - listed));
        if (request.destinations.empty())
            row(QStringLiteral("To:"), QStringLiteral("-"));
        y += 20;
        painter.drawLine(kMargin, y, kMargin + width, y);
        y += 50;

        const QRect textBox(kMargin, y, width, std::max(0, bottom - y));
        painter.setClipRect(textBox);
        CoverTextFit textFit;
        drawText(painter, textBox, fromUtf8(request.text), textFit);
        if (fit)
            *fit = std::move(textFit);
    }
    return encodeFaxPage(image);
}

}  // namespace miravo::server
