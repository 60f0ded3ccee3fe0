#include "server/CoverPage.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

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

}  // namespace

std::string renderCoverPage(const CoverRequest& request) {
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

        painter.setFont(font(42));
        const QRect textBox(kMargin, y, width, std::max(0, bottom - y));
        painter.setClipRect(textBox);
        painter.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                         fromUtf8(request.text));
    }
    return encodeFaxPage(image);
}

}  // namespace miravo::server
