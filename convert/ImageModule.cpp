// miravo-images.so: decoding of image files by Qt's image library, loaded by
// the conversion and the print monitor only when an image comes.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <tiffio.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPainter>

#include "app/FileBytes.h"
#include "convert/ImageLibraryEntry.h"
#include "convert/PageImage.h"

namespace miravo {
namespace {

// Files up to this size are read whole and decoded from memory: Qt's
// buffered file reading copies every byte twice and its image formats read
// row by row. Only an unusually large one is read as a stream.
constexpr qint64 kWholeReadLimit = 64 << 20;

std::uint8_t lumaOf(QRgb colour) {
    return ClassicLuma(qRed(colour), qGreen(colour), qBlue(colour));
}

// A two-coloured one-bit image into the page as it is.
bool copyBits(const QImage& image, DecodedPage& page) {
    if (!page.allocate(image.width(), image.height(), true))
        return false;
    page.zeroGrey = lumaOf(image.color(0));
    page.oneGrey = lumaOf(image.color(1));
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(page.row(y), image.constScanLine(y), page.stride);
    return true;
}

// Any other image into the page's grey by the classic luma of the encoded
// values (Qt's own conversion weighs linear light, which turns pure red
// and middle greens nearly white), a strip of rows at a time, so that a
// large page never exists in full colour twice.
bool copyGrey(const QImage& image, DecodedPage& page) {
    if (!page.allocate(image.width(), image.height(), false))
        return false;
    if (image.format() == QImage::Format_Grayscale8) {
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(page.row(y), image.constScanLine(y), page.stride);
        return true;
    }
    constexpr int kStripRows = 128;
    for (int top = 0; top < image.height(); top += kStripRows) {
        const int rows = std::min(kStripRows, image.height() - top);
        const QImage strip =
            image.copy(0, top, image.width(), rows).convertToFormat(QImage::Format_RGB888);
        if (strip.isNull())
            return false;
        for (int y = 0; y < rows; ++y)
            LumaRow(strip.constScanLine(y), page.row(top + y), image.width());
    }
    return true;
}

// A decoded image into the page: transparent parts on white, two-coloured
// images as bits, any other as grey.
bool toPage(QImage& image, DecodedPage& page) {
    if (image.hasAlphaChannel()) {
        QImage paper(image.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter painter(&paper);
        painter.drawImage(0, 0, image);
        painter.end();
        paper.setDotsPerMeterX(image.dotsPerMeterX());
        paper.setDotsPerMeterY(image.dotsPerMeterY());
        image = std::move(paper);
    }
    if (image.format() == QImage::Format_MonoLSB)
        image.convertTo(QImage::Format_Mono);
    if (image.format() == QImage::Format_Mono && image.colorCount() == 2)
        return copyBits(image, page);
    return copyGrey(image, page);
}

// The device of the file open as `fd`: the whole file in memory when it is
// not too large, else the file itself.
class FileDevice {
  public:
    FileDevice(int fd, long long size) {
        if (size > 0 && size <= kWholeReadLimit) {
            whole_ = PageMemory(static_cast<std::size_t>(size));
            const std::ptrdiff_t got =
                whole_.empty() ? -1 : ReadFully(fd, whole_.data(), static_cast<std::size_t>(size));
            readFailed_ = !whole_.empty() && got < 0;
            if (got > 0) {
                bytes_ = QByteArray::fromRawData(reinterpret_cast<const char*>(whole_.data()), got);
                memory_.setBuffer(&bytes_);
                opened_ = memory_.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            }
        } else if (size > 0) {
            const int own = ::dup(fd);
            opened_ =
                own >= 0 && file_.open(own, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
            if (!opened_ && own >= 0)
                ::close(own);
            device_ = &file_;
        }
    }
    QIODevice* device() { return opened_ ? device_ : nullptr; }
    // A read of the file failed (an I/O error), now or while it was decoded.
    bool readFailed() const {
        return readFailed_ || (device_ == &file_ && file_.error() == QFileDevice::ReadError);
    }

  private:
    QFile file_;
    QByteArray bytes_;
    QBuffer memory_;
    QIODevice* device_ = &memory_;
    PageMemory whole_;
    bool opened_ = false;
    bool readFailed_ = false;
};

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

// Whether an image's file states its resolution. The image library gives
// every image one, a made-up one when the file has none, so the file's own
// fields are looked at: a PNG's pHYs chunk in metres, a JPEG's JFIF
// density in inches or centimetres, a BMP's pixels per metre, a TIFF
// page's resolution tags in inches or centimetres.
class StatedResolution {
  public:
    explicit StatedResolution(int fd) : fd_(fd) {
        head_.resize(kHeadBytes);
        const ssize_t got = ::pread(fd, head_.data(), head_.size(), 0);
        head_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ~StatedResolution() {
        if (tiff_)
            TIFFClose(tiff_);
    }
    StatedResolution(const StatedResolution&) = delete;
    StatedResolution& operator=(const StatedResolution&) = delete;

    bool stated(const QByteArray& format, int frame) {
        const std::uint8_t* h = head_.data();
        const std::size_t n = head_.size();
        if (format == "png") {
            for (std::size_t at = 8; at + 8 <= n;) {
                const std::uint32_t length = bigEndian32(h + at);
                const std::string_view type(reinterpret_cast<const char*>(h + at + 4), 4);
                if (type == "IDAT")
                    return false;
                if (type == "pHYs")
                    return length == 9 && at + 17 <= n && h[at + 16] == 1;
                if (length > n)
                    return false;
                at += 12 + length;
            }
            return false;
        }
        if (format == "jpeg" || format == "jpg")
            return n >= 18 && h[2] == 0xFF && h[3] == 0xE0 &&
                   std::memcmp(h + 6, "JFIF\0", 5) == 0 && (h[13] == 1 || h[13] == 2) &&
                   (h[14] | h[15]) != 0 && (h[16] | h[17]) != 0;
        if (format == "bmp")
            return n >= 46 && (h[38] | h[39] | h[40] | h[41]) != 0 &&
                   (h[42] | h[43] | h[44] | h[45]) != 0;
        if (format == "tif" || format == "tiff")
            return tiffStates(frame);
        return false;
    }

  private:
    static constexpr std::size_t kHeadBytes = 64 << 10;

    bool tiffStates(int frame) {
        if (!tiff_ && !openTiff())
            return false;
        // The pages come in order: the next directory is read on from the
        // last, never from the start again.
        const bool there = frame == page_ + 1 && page_ >= 0
                               ? TIFFReadDirectory(tiff_) != 0
                               : TIFFSetDirectory(tiff_, static_cast<tdir_t>(frame)) != 0;
        page_ = there ? frame : -1;
        float x = 0, y = 0;
        std::uint16_t unit = RESUNIT_INCH;
        return there && TIFFGetField(tiff_, TIFFTAG_XRESOLUTION, &x) &&
               TIFFGetField(tiff_, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0 &&
               (!TIFFGetField(tiff_, TIFFTAG_RESOLUTIONUNIT, &unit) || unit == RESUNIT_INCH ||
                unit == RESUNIT_CENTIMETER);
    }

    bool openTiff() {
        // A description of its own, reading from the start: a copy of the
        // descriptor would share (and move) the offset the decoder reads at.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        const int own = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
        if (own < 0)
            return false;
        tiff_ = TIFFFdOpen(own, "image", "rm");
        if (!tiff_) {
            ::close(own);
            return false;
        }
        page_ = 0;
        return true;
    }

    TIFF* tiff_ = nullptr;
    int page_ = -1;  // the directory tiff_ is at; -1 when not known
    int fd_;
    std::vector<std::uint8_t> head_;
};

}  // namespace
}  // namespace miravo

using namespace miravo;

extern "C" {

int miravo_images_version() {
    return kImageModuleVersion;
}

bool miravo_images_prepare() {
    QImageReader::setAllocationLimit(kDecodeAllocationLimitMb);
    // The format plug-ins' own words about a file ("Unsupported JPEG data
    // precision 12") are no message for the user: the conversion says
    // which document failed. QT_LOGGING_RULES still turns them on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false\n"
                                                    "qt.imageformats*=false"));
    // Asking for the format of bytes no format takes loads and creates
    // every format plug-in here, once, rather than on the decoding threads,
    // which may end before the program does.
    QByteArray unknown("\x01\x02\x03\x04 no image");
    QBuffer buffer(&unknown);
    buffer.open(QIODevice::ReadOnly);
    QImageReader probe(&buffer);
    probe.setDecideFormatFromContent(true);
    probe.canRead();
    return true;
}

int miravo_images_decode(int fd, long long size, DecodedPage* page, double* xDpi, double* yDpi) {
    *xDpi = *yDpi = 0;
    FileDevice file(fd, size);
    if (!file.device())
        return file.readFailed() ? MIRAVO_IMAGES_READ_ERROR : 0;
    QImageReader reader(file.device());
    reader.setDecideFormatFromContent(true);
    // Upright as the camera saw it.
    reader.setAutoTransform(true);
    if (!WithinPageFileLimits(reader.size().width(), reader.size().height()))
        return file.readFailed() ? MIRAVO_IMAGES_READ_ERROR : 0;
    // Asked before the read: afterwards the reader would look for it past
    // the image's end.
    const QByteArray format = reader.format();
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return file.readFailed() ? MIRAVO_IMAGES_READ_ERROR : 0;
    if (StatedResolution(fd).stated(format, 0)) {
        *xDpi = image.dotsPerMeterX() * 0.0254;
        *yDpi = image.dotsPerMeterY() * 0.0254;
    }
    return toPage(image, *page) ? 1 : 0;
}

int miravo_images_decode_frames(int fd, long long size, miravo_images_frame_sink sink,
                                void* context, int* failedFrame) {
    *failedFrame = 0;
    FileDevice file(fd, size);
    if (!file.device())
        return file.readFailed() ? MIRAVO_IMAGES_READ_ERROR : -1;
    QImageReader reader(file.device());
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return file.readFailed() ? MIRAVO_IMAGES_READ_ERROR : -1;
    // Only a TIFF holds pages; the frames of an animation (GIF, WebP) are
    // not pages, and its first frame is the picture. Formats that cannot
    // count their images say 0 or -1: one is read.
    const QByteArray format = reader.format();
    const bool paged = format == "tif" || format == "tiff";
    const int count = paged ? std::max(reader.imageCount(), 1) : 1;
    StatedResolution resolution(fd);
    DecodedPage page;
    for (int i = 0; i < count; ++i) {
        QImage image;
        const bool read = (i == 0 || reader.jumpToImage(i)) &&
                          WithinPageFileLimits(reader.size().width(), reader.size().height()) &&
                          reader.read(&image) && !image.isNull();
        const bool stated = read && resolution.stated(format, i);
        const double xDpi = stated ? image.dotsPerMeterX() * 0.0254 : 0;
        const double yDpi = stated ? image.dotsPerMeterY() * 0.0254 : 0;
        if (!read || !toPage(image, page)) {
            if (file.readFailed())
                return MIRAVO_IMAGES_READ_ERROR;
            *failedFrame = i + 1;
            return i;
        }
        image = QImage();  // one page in memory at a time
        if (!sink(context, &page, xDpi, yDpi))
            return i + 1;
    }
    return count;
}

}  // extern "C"
