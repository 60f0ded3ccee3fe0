// miravo-images.so: decoding of image files by Qt's image library, loaded by
// the conversion and the print monitor only when an image comes.
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

bool miravo_images_probe(const char* path, int* width, int* height, int* count) {
    QImageReader reader(QFile::decodeName(path));
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return false;
    const QSize size = reader.size();
    *width = size.width();
    *height = size.height();
    *count = reader.imageCount();
    return true;
}

bool miravo_images_decode(int fd, long long size, DecodedPage* page) {
    QFile file;
    QByteArray bytes;
    QBuffer memory;
    QIODevice* device = &memory;
    PageMemory whole;
    bool opened = false;
    if (size > 0 && size <= kWholeReadLimit) {
        whole = PageMemory(static_cast<std::size_t>(size));
        const std::ptrdiff_t got =
            whole.empty() ? -1 : ReadFully(fd, whole.data(), static_cast<std::size_t>(size));
        if (got > 0) {
            bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(whole.data()), got);
            memory.setBuffer(&bytes);
            opened = memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        }
    } else if (size > 0) {
        const int own = ::dup(fd);
        opened = own >= 0 && file.open(own, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        if (!opened && own >= 0)
            ::close(own);
        device = &file;
    }
    if (!opened)
        return false;
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!WithinPageFileLimits(reader.size().width(), reader.size().height()))
        return false;
    QImage image;
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
    if (image.format() == QImage::Format_MonoLSB)
        image.convertTo(QImage::Format_Mono);
    if (image.format() == QImage::Format_Mono && image.colorCount() == 2)
        return copyBits(image, *page);
    return copyGrey(image, *page);
}

}  // extern "C"
