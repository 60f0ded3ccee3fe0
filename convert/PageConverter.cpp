#include "convert/PageConverter.h"

#include <sys/stat.h>

#include <mutex>

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"

namespace miravo {

void PrepareImageDecoding() {
    static std::once_flag ready;
    std::call_once(ready, [] {
        QImageReader::setAllocationLimit(kDecodeAllocationLimitMb);
        // Asking for the format of bytes no format takes loads and creates
        // every format plugin here, once, rather than on the decoding
        // threads, which may end before the program does.
        QByteArray unknown("\x01\x02\x03\x04 no image");
        QBuffer buffer(&unknown);
        buffer.open(QIODevice::ReadOnly);
        QImageReader probe(&buffer);
        probe.setDecideFormatFromContent(true);
        probe.canRead();
    });
}

bool DecodePageFileInto(const std::filesystem::path& path, QImage& image) {
    // A FIFO or device would block or never end; only plain files are read.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0)
        return false;
    PrepareImageDecoding();
    QImageReader reader(QString::fromStdString(path.string()));
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxPageFileSide ||
        size.height() > kMaxPageFileSide ||
        static_cast<std::int64_t>(size.width()) * size.height() > kMaxPageFilePixels)
        return false;
    // Reading into the same image again reuses its pixels when the size and
    // format match, as they do page after page of one print job.
    if (!reader.read(&image) || image.isNull())
        return false;
    if (image.hasAlphaChannel()) {
        QImage paper(image.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter painter(&paper);
        painter.drawImage(0, 0, image);
        painter.end();
        image = std::move(paper);
    }
    if (image.format() != QImage::Format_Grayscale8)
        image.convertTo(QImage::Format_Grayscale8);
    return !image.isNull();
}

std::optional<QImage> DecodePageFile(const std::filesystem::path& path) {
    QImage image;
    if (!DecodePageFileInto(path, image))
        return std::nullopt;
    return image;
}

std::u16string PageFileResultName(std::u16string_view documentBase, std::uint32_t fileIndex) {
    return std::u16string(documentBase) + u"_res_" + toU16(static_cast<long>(fileIndex)) + u".tif";
}

const BitPage& PagePipeline::run(GreyView band, bool dithering) {
    // A band that is the fax page already (as miravo-print renders them)
    // would only be copied onto the canvas unchanged: it is made black and
    // white where it lies.
    GreyView page = band;
    if (band.width != kFaxWidth || band.height != kFaxHeight) {
        PlaceOnFaxPage(band, canvas_, turned_);
        page = canvas_.view();
    }
    if (dithering)
        Dither(page, bits_);
    else
        Threshold(page, bits_);
    return bits_;
}

PageFileResult ConvertPageFile(bool dithering, std::u16string_view documentBase,
                               std::uint32_t fileIndex, std::u16string_view pageFilePath,
                               std::uint32_t pageCount, const std::atomic<bool>* cancel) {
    PageFileResult result;
    // Buffers kept per thread from page file to page file.
    thread_local QImage image;
    thread_local PagePipeline pipeline;
    if (!DecodePageFileInto(ToFsPath(pageFilePath), image)) {
        image = QImage();
        return result;
    }
    result.decoded = true;
    const GreyView whole{image.constBits(), image.width(), image.height(),
                         static_cast<std::ptrdiff_t>(image.bytesPerLine())};
    const std::uint32_t bands = BandCount(pageCount);
    // Fewer rows than pages cut no page; more pages than one document can
    // number are refused rather than ground through.
    if (bands > kMaxPagesPerFile || PageBand(whole.height, pageCount, 0).rows == 0)
        return result;

    FaxTiffWriter writer;
    if (!writer.open(ToFsPath(PageFileResultName(documentBase, fileIndex))))
        return result;
    for (std::uint32_t k = 0; k < bands; ++k) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return result;  // the writer removes its file
        const BandGeometry band = PageBand(whole.height, pageCount, k);
        if (!writer.addPage(pipeline.run(whole.band(band.top, band.rows), dithering),
                            static_cast<int>(bands)))
            return result;
    }
    if (writer.close())
        result.pages = writer.pages();
    return result;
}

}  // namespace miravo
