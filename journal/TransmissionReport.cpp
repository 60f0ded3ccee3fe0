#include "journal/TransmissionReport.h"

#include <QDateTime>
#include <QFile>
#include <QFontMetrics>
#include <QImageReader>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "service/FaxTransmission.h"
#include "service/ServiceTexts.h"

namespace miravo {

namespace {

constexpr int kDpi = 300;
constexpr int kMargin = 170;        // about 14 mm
constexpr int kImageWidth = 720;    // about 6 cm: the reduced first page
constexpr int kImagePixels = 600;   // the first page is stored at most this wide

QString q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The first page in its true proportions (fax lines are finer than its
// columns), reduced and grey, so that the report stays small.
QImage firstPage(const std::filesystem::path& document) {
    if (document.empty())
        return {};
    QImageReader reader(QString::fromStdString(document.string()));
    reader.setDecideFormatFromContent(true);
    QImage page = reader.read();
    if (page.isNull())
        return {};
    const int xDots = page.dotsPerMeterX();
    const int yDots = page.dotsPerMeterY();
    int height = page.height();
    if (xDots > 0 && yDots > 0 && xDots != yDots)
        height = std::max(1, static_cast<int>(static_cast<qint64>(height) * xDots / yDots));
    const int width = std::min(page.width(), kImagePixels);
    height = std::max(1, static_cast<int>(static_cast<qint64>(height) * width / page.width()));
    return page.convertToFormat(QImage::Format_Grayscale8)
        .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

class ReportPages {
  public:
    ReportPages(QPdfWriter& writer, const LanguageTable& language)
        : writer_(writer), language_(language), painter_(&writer) {
        body_ = QFont(QStringLiteral("DejaVu Sans"));
        body_.setPointSizeF(9.5);
        bold_ = body_;
        bold_.setBold(true);
        title_ = bold_;
        title_.setPointSizeF(18);
        width_ = writer.width() - 2 * kMargin;
        bottom_ = writer.height() - kMargin;
        painter_.setFont(body_);
        line_ = QFontMetrics(body_, &writer).lineSpacing() * 13 / 10;
    }

    bool active() const { return painter_.isActive(); }

    void write(const JournalSend& send, const JournalKeeping& keeping, const QImage& page) {
        const std::u16string currency = GetText(language_, text::kCurrency);
        // The facts, left of the first page's image.
        int y = kMargin;
        painter_.setFont(title_);
        const int titleHeight = QFontMetrics(title_, &writer_).lineSpacing();
        painter_.drawText(QRect(kMargin, y, width_, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          q(GetText(language_, text::kTransmissionReport)));
        y += titleHeight + line_ / 2;
        const int factsWidth = width_ - kImageWidth - line_;
        auto fact = [&](int label, const QString& value) {
            painter_.setFont(bold_);
            const QString name = q(GetText(language_, label));
            const int nameWidth = factsWidth * 2 / 5;
            painter_.drawText(QRect(kMargin, y, nameWidth, line_), Qt::AlignLeft | Qt::AlignTop, name);
            painter_.setFont(body_);
            const QRect room(kMargin + nameWidth, y, factsWidth - nameWidth, bottom_ - y);
            const QRect used = painter_.boundingRect(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, value);
            painter_.drawText(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, value);
            y += std::max(line_, used.height() + line_ - QFontMetrics(body_, &writer_).lineSpacing());
        };
        const QDateTime when = QDateTime::fromSecsSinceEpoch(send.sentAt);
        int ok = 0;
        int failed = 0;
        for (const JournalDestination& d : send.destinations) {
            if (!d.final)
                continue;
            ++(d.statusCode == u"OK" ? ok : failed);
        }
        fact(text::kReportDateTime, when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        fact(text::kReportDocument, q(send.title));
        fact(29, send.faxId.empty() ? QStringLiteral("\u2013") : q(send.faxId));  // "Fax ID:"
        fact(30, QString::number(send.pages));                                    // "Pages:"
        fact(text::kReportCoverPage, q(GetText(language_, send.cover ? text::kYes : text::kNo)));
        fact(text::kReportTotal, q(MoneyText(send.totalCost, currency)));
        painter_.setFont(body_);
        auto note = [&](const std::u16string& words) {
            const QRect room(kMargin, y, factsWidth, bottom_ - y);
            const QRect used = painter_.boundingRect(room, Qt::AlignLeft | Qt::TextWordWrap, q(words));
            painter_.drawText(room, Qt::AlignLeft | Qt::TextWordWrap, q(words));
            y += used.height() + line_ / 3;
        };
        note(GetText(language_, text::kReportDestinations, static_cast<int>(send.destinations.size()),
                     ok, failed));
        note(GetText(language_, text::kReportRecord, static_cast<int>(send.id)));
        if (keeping.repeats != 0)
            note(GetText(language_, text::kReportRepeats, static_cast<int>(keeping.repeats)));
        if (!keeping.reason.empty())
            note(GetText(language_, text::kReportNotSent, keeping.reason));

        // The first page, reduced, framed, with its caption.
        const int imageLeft = kMargin + width_ - kImageWidth;
        int imageBottom = kMargin;
        if (!page.isNull()) {
            const int height = page.height() * kImageWidth / page.width();
            const QRect box(imageLeft, kMargin, kImageWidth, height);
            painter_.drawImage(box, page);
            painter_.drawRect(box);
            imageBottom = box.bottom() + line_ / 4;
            painter_.drawText(QRect(imageLeft, imageBottom, kImageWidth, line_), Qt::AlignCenter,
                              q(GetText(language_, text::kReportFirstPage)));
        } else {
            const QRect box(imageLeft, kMargin, kImageWidth, kImageWidth * 3 / 2);
            painter_.drawRect(box);
            painter_.drawText(box.adjusted(line_ / 2, 0, -line_ / 2, 0),
                              Qt::AlignCenter | Qt::TextWordWrap,
                              q(GetText(language_, text::kDocumentNotKept)));
            imageBottom = box.bottom();
        }
        imageBottom += line_;

        // The destinations, continued over further pages.
        int top = std::max(y, imageBottom) + line_;
        const std::size_t n = send.destinations.size();
        const int firstRows = std::max(1, (bottom_ - line_ - top) / line_ - 1);
        const int nextTop = kMargin + line_ * 2;
        const int nextRows = std::max(1, (bottom_ - line_ - nextTop) / line_ - 1);
        int pages = 1;
        if (n > static_cast<std::size_t>(firstRows))
            pages += static_cast<int>((n - static_cast<std::size_t>(firstRows) + nextRows - 1) /
                                      static_cast<std::size_t>(nextRows));
        std::size_t at = 0;
        for (int p = 1; p <= pages; ++p) {
            if (p > 1) {
                writer_.newPage();
                painter_.setFont(bold_);
                painter_.drawText(QRect(kMargin, kMargin, width_, line_), Qt::AlignLeft,
                                  q(GetText(language_, text::kTransmissionReport)) +
                                      QStringLiteral(" \u2013 ") + q(send.title) +
                                      QStringLiteral(" \u2013 ") +
                                      q(GetText(language_, text::kReportRecord,
                                                static_cast<int>(send.id))));
                top = nextTop;
            }
            const std::size_t rows = static_cast<std::size_t>(p == 1 ? firstRows : nextRows);
            int row = top;
            header(row);
            row += line_;
            painter_.setFont(body_);
            for (std::size_t i = 0; i < rows && at < n; ++i, ++at) {
                const JournalDestination& d = send.destinations[at];
                cells(row, q(d.number), q(d.name), q(ReportStatusText(language_, d)),
                      q(MoneyText(d.cost, currency)));
                row += line_;
            }
            if (at == n) {
                painter_.drawLine(kMargin, row, kMargin + width_, row);
                painter_.setFont(bold_);
                cells(row + line_ / 4, q(GetText(language_, text::kReportTotal)), {}, {},
                      q(MoneyText(send.totalCost, currency)));
            }
            painter_.setFont(body_);
            painter_.drawText(QRect(kMargin, bottom_, width_, line_), Qt::AlignRight,
                              q(GetText(language_, text::kReportPageOf, p, pages)));
        }
    }

    bool end() { return painter_.end(); }

  private:
    void header(int y) {
        painter_.setFont(bold_);
        cells(y, q(GetText(language_, text::kReportNumber)), q(GetText(language_, text::kReportName)),
              q(GetText(language_, text::kReportStatus)), q(GetText(language_, text::kReportCost)));
        painter_.drawLine(kMargin, y + line_ - line_ / 6, kMargin + width_, y + line_ - line_ / 6);
    }

    void cells(int y, const QString& number, const QString& name, const QString& status,
               const QString& cost) {
        const int w[4] = {width_ * 24 / 100, width_ * 30 / 100, width_ * 30 / 100, width_ * 16 / 100};
        const QString texts[4] = {number, name, status, cost};
        int x = kMargin;
        const QFontMetrics metrics(painter_.font(), &writer_);
        for (int c = 0; c < 4; ++c) {
            const int room = w[c] - line_ / 3;
            painter_.drawText(QRect(x, y, room, line_),
                              (c == 3 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                              metrics.elidedText(texts[c], Qt::ElideRight, room));
            x += w[c];
        }
    }

    QPdfWriter& writer_;
    const LanguageTable& language_;
    QPainter painter_;
    QFont body_;
    QFont bold_;
    QFont title_;
    int width_ = 0;
    int bottom_ = 0;
    int line_ = 0;
};

}  // namespace

std::u16string ReportStatusText(const LanguageTable& language, const JournalDestination& d) {
    if (!d.statusCode.empty())
        return FaxStatusText(language, d.statusCode);
    if (!d.sent)
        return d.statusText.empty() ? GetText(language, text::kDestinationNotSent) : d.statusText;
    return FaxStatusText(language, u"");
}

bool WriteTransmissionReport(const JournalSend& send, const JournalKeeping& keeping,
                             const std::filesystem::path& document,
                             const LanguageTable& language, const std::filesystem::path& out,
                             std::string& error) {
    const std::filesystem::path partial = out.string() + ".part";
    const QString partialName = QString::fromStdString(partial.string());
    bool written = false;
    {
        QPdfWriter writer(partialName);
        writer.setResolution(kDpi);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(q(GetText(language, text::kTransmissionReport)) + QStringLiteral(" \u2013 ") +
                        q(send.title));
        writer.setCreator(QStringLiteral("Miravo"));
        ReportPages pages(writer, language);
        if (pages.active()) {
            pages.write(send, keeping, firstPage(document));
            written = pages.end();
        }
    }
    if (!written || std::rename(partial.c_str(), out.c_str()) != 0) {
        QFile::remove(partialName);
        error = "the file " + out.string() + " cannot be written";
        return false;
    }
    return true;
}

}  // namespace miravo
