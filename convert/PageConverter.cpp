#include "convert/PageConverter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
#include "convert/PageMemory.h"

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

namespace {

// Page files up to this size are read whole into memory.
constexpr qint64 kWholeReadLimit = 64 << 20;

// What decoding keeps on a thread from page file to page file, in page
// memory: the file's bytes and one image of each kind, so that a job that
// mixes one-bit and grey page files reuses its buffers for every file.
struct DecodeBuffers {
    PageMemory fileBytes;
    PageMemory bilevelPixels;
    QImage bilevel;
    PageMemory greyPixels;
    QImage grey;
    QImage other;  // formats Qt turns to grey itself
};

// The first `size` bytes of `fd` into `memory` (grown when too small);
// the count read, fewer when the file shrank meanwhile; -1 on failure.
qint64 readWhole(int fd, qint64 size, PageMemory& memory) {
    if (memory.size() < static_cast<std::size_t>(size))
        memory = PageMemory(static_cast<std::size_t>(size));
    if (memory.empty())
        return -1;
    return ReadFully(fd, memory.data(), static_cast<std::size_t>(size));
}

// `image` as a `size` image of `format` over `pixels`, reallocated only
// when the size changed; Qt decodes into an image of the right size and
// format without allocating.
QImage& imageInPageMemory(QImage& image, PageMemory& pixels, QSize size, QImage::Format format) {
    if (image.size() == size && image.format() == format && !pixels.empty() &&
        image.constBits() == pixels.data())
        return image;
    const int depth = format == QImage::Format_Mono ? 1 : 8;
    // Qt's rows start on 4-byte boundaries.
    const qsizetype rowBytes = (static_cast<qsizetype>(size.width()) * depth + 31) / 32 * 4;
    image = QImage();
    pixels =
        PageMemory(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(size.height()));
    if (!pixels.empty())
        image = QImage(pixels.data(), size.width(), size.height(), rowBytes, format);
    return image;
}

// Colour (or a palette) to 8-bit grey by the classic luma of the encoded
// values; Qt's own conversion weighs linear light, which turns pure red
// and middle greens nearly white. Converted a strip of rows at a time, so
// a large page never exists in full colour twice.
bool greyByLuma(QImage& image) {
    if (image.format() == QImage::Format_Grayscale8)
        return true;
    if (image.format() == QImage::Format_Grayscale16) {
        image.convertTo(QImage::Format_Grayscale8);
        return !image.isNull();
    }
    QImage grey(image.size(), QImage::Format_Grayscale8);
    if (grey.isNull())
        return false;
    constexpr int kStripRows = 128;
    for (int top = 0; top < image.height(); top += kStripRows) {
        const int rows = std::min(kStripRows, image.height() - top);
        const QImage strip =
            image.copy(0, top, image.width(), rows).convertToFormat(QImage::Format_RGB888);
        if (strip.isNull())
            return false;
        for (int y = 0; y < rows; ++y)
            LumaRow(strip.constScanLine(y), grey.scanLine(top + y), image.width());
    }
    image = std::move(grey);
    return true;
}

// Reads the page file: one bit per pixel stays as it is (in Qt's
// most-significant-bit-first order), anything else becomes 8-bit grey with
// transparent parts on white. Null on failure.
QImage* decodePageFile(const std::filesystem::path& path, DecodeBuffers& buffers) {
    // A FIFO or device would block or never end; only plain files are read.
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return nullptr;
    PrepareImageDecoding();
    // A page file is read with one call and decoded from memory: Qt's
    // buffered file reading copies every byte twice and its image formats
    // read row by row. Only an unusually large one is read as a stream.
    QFile file;
    QByteArray bytes;
    QBuffer memory;
    QIODevice* device = &memory;
    bool opened = false;
    if (info.st_size > 0 && info.st_size <= kWholeReadLimit) {
        const qint64 got = readWhole(fd, info.st_size, buffers.fileBytes);
        ::close(fd);
        if (got > 0) {
            bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(buffers.fileBytes.data()),
                                            got);
            memory.setBuffer(&bytes);
            opened = memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        }
    } else {
        opened =
            info.st_size > 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        if (!opened)
            ::close(fd);
        device = &file;
    }
    if (!opened)
        return nullptr;
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxPageFileSide ||
        size.height() > kMaxPageFileSide ||
        static_cast<std::int64_t>(size.width()) * size.height() > kMaxPageFilePixels)
        return nullptr;
    const QImage::Format format = reader.imageFormat();
    QImage* target = &buffers.other;
    if (format == QImage::Format_Mono)
        target = &imageInPageMemory(buffers.bilevel, buffers.bilevelPixels, size, format);
    else if (format == QImage::Format_Grayscale8)
        target = &imageInPageMemory(buffers.grey, buffers.greyPixels, size, format);
    QImage& image = *target;
    if (!reader.read(&image) || image.isNull())
        return nullptr;
    if (image.hasAlphaChannel()) {
        QImage paper(image.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter painter(&paper);
        painter.drawImage(0, 0, image);
        painter.end();
        image = std::move(paper);
    }
    if (image.format() == QImage::Format_MonoLSB)
        image.convertTo(QImage::Format_Mono);
    if (!(image.format() == QImage::Format_Mono && image.colorCount() == 2) && !greyByLuma(image))
        return nullptr;
    return image.isNull() ? nullptr : &image;
}

// The fax rows of rows [top, top + height) of a one-bit image when they need
// neither turning nor scaling and both its colours are pure black or white:
// then threshold and dithering would give its pixels back unchanged, so
// they are taken as they are. False when the band needs the grey pipeline.
bool takeBlackAndWhiteBand(const QImage& image, int top, int rows, BitPage& out) {
    if (image.format() != QImage::Format_Mono || image.width() != kFaxWidth || rows != kFaxHeight)
        return false;
    const int grey0 = qGray(image.color(0));
    const int grey1 = qGray(image.color(1));
    if ((grey0 != 0 && grey0 != 255) || (grey1 != 0 && grey1 != 255))
        return false;
    if (out.width != kFaxWidth || out.height != kFaxHeight)
        out = BitPage(kFaxWidth, kFaxHeight);
    // Fax bits are 1 for black: a set pixel keeps its bit when colour 1 is
    // black, clear pixels are black when colour 0 is.
    const std::uint8_t flip = grey0 == 0 ? 0xFF : 0x00;
    const std::uint8_t keep = grey0 == grey1 ? 0x00 : 0xFF;
    const std::size_t rowBytes = out.rowBytes();
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* src = image.constScanLine(top + y);
        std::uint8_t* dst = out.bits.data() + rowBytes * static_cast<std::size_t>(y);
        if (flip == 0 && keep == 0xFF) {
            std::memcpy(dst, src, rowBytes);
            continue;
        }
        for (std::size_t i = 0; i < rowBytes; ++i)
            dst[i] = static_cast<std::uint8_t>((src[i] & keep) ^ flip);
    }
    return true;
}

}  // namespace

bool DecodePageFileInto(const std::filesystem::path& path, QImage& image) {
    DecodeBuffers buffers;
    QImage* decoded = decodePageFile(path, buffers);
    if (!decoded)
        return false;
    // A copy of its own: the buffers go when this returns.
    image = decoded->copy();
    return greyByLuma(image) && !image.isNull();
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
    thread_local DecodeBuffers buffers;
    thread_local PagePipeline pipeline;
    thread_local BitPage taken;
    QImage* decoded = decodePageFile(ToFsPath(pageFilePath), buffers);
    if (!decoded) {
        buffers.other = QImage();  // whatever a failed file made Qt allocate
        return result;
    }
    QImage& image = *decoded;
    result.decoded = true;
    const std::uint32_t bands = BandCount(pageCount);
    const int rows = PageBand(image.height(), pageCount, 0).rows;
    // Fewer rows than pages cut no page; more pages than one document can
    // number are refused rather than ground through.
    if (bands > kMaxPagesPerFile || rows == 0)
        return result;
    // All bands share one size, so the first tells whether a one-bit page
    // file can be taken as it is; otherwise it goes to grey like any other.
    const bool asTheyAre = takeBlackAndWhiteBand(image, 0, rows, taken);
    if (!asTheyAre && !greyByLuma(image))
        return result;
    const GreyView whole{image.constBits(), image.width(), image.height(),
                         static_cast<std::ptrdiff_t>(image.bytesPerLine())};

    FaxTiffWriter writer;
    if (!writer.open(ToFsPath(PageFileResultName(documentBase, fileIndex))))
        return result;
    for (std::uint32_t k = 0; k < bands; ++k) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return result;  // the writer removes its file
        const BandGeometry band = PageBand(image.height(), pageCount, k);
        if (asTheyAre && k > 0)
            takeBlackAndWhiteBand(image, band.top, band.rows, taken);
        const BitPage& bits =
            asTheyAre ? taken : pipeline.run(whole.band(band.top, band.rows), dithering);
        if (!writer.addPage(bits, static_cast<int>(bands)))
            return result;
    }
    if (writer.close())
        result.pages = writer.pages();
    return result;
}

}  // namespace miravo
