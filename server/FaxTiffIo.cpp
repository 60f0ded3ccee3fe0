#include "server/FaxTiffIo.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace miravo::server {

namespace {

// A TIFF stream over a byte string: read-only over a view, or growing.
struct MemoryFile {
    std::string_view input;
    std::string output;
    bool writable = false;
    toff_t pos = 0;

    std::size_t size() const { return writable ? output.size() : input.size(); }
};

tsize_t memRead(thandle_t h, tdata_t buf, tsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const std::string_view data = f->writable ? std::string_view(f->output) : f->input;
    if (f->pos >= data.size() || size <= 0)
        return 0;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(size), data.size() - f->pos);
    std::memcpy(buf, data.data() + f->pos, n);
    f->pos += n;
    return static_cast<tsize_t>(n);
}

tsize_t memWrite(thandle_t h, tdata_t buf, tsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->writable || size < 0)
        return 0;
    const std::size_t end = f->pos + static_cast<std::size_t>(size);
    if (end > f->output.size())
        f->output.resize(end);
    std::memcpy(f->output.data() + f->pos, buf, static_cast<std::size_t>(size));
    f->pos = end;
    return size;
}

toff_t memSeek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = f->pos;
    else if (whence == SEEK_END)
        base = f->size();
    const toff_t target = base + offset;
    if (target > (toff_t(1) << 40))
        return static_cast<toff_t>(-1);
    f->pos = target;
    return f->pos;
}

int memClose(thandle_t) {
    return 0;
}
toff_t memSize(thandle_t h) {
    return static_cast<MemoryFile*>(h)->size();
}
int memMap(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void memUnmap(thandle_t, tdata_t, toff_t) {}

void quietLibtiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

TIFF* openMemory(MemoryFile& file, const char* mode) {
    quietLibtiff();
    return TIFFClientOpen("memory", mode, &file, memRead, memWrite, memSeek, memClose, memSize,
                          memMap, memUnmap);
}

}  // namespace

std::optional<int> countTiffPages(std::string_view bytes, int maxPages) {
    if (bytes.size() < 8)
        return std::nullopt;
    MemoryFile file;
    file.input = bytes;
    TIFF* tif = openMemory(file, "rm");
    if (!tif)
        return std::nullopt;
    int pages = 0;
    bool ok = true;
    std::vector<unsigned char> strip;
    do {
        uint32_t width = 0, height = 0;
        if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0 ||
            width > 20000 || height > 20000 || TIFFIsTiled(tif) || TIFFNumberOfStrips(tif) == 0) {
            ok = false;
            break;
        }
        const tmsize_t stripSize = TIFFStripSize(tif);
        if (stripSize <= 0 || stripSize > 64 * 1024 * 1024) {
            ok = false;
            break;
        }
        strip.resize(static_cast<std::size_t>(stripSize));
        if (TIFFReadEncodedStrip(tif, 0, strip.data(), stripSize) < 0) {
            ok = false;
            break;
        }
        if (++pages > maxPages)
            break;  // the caller sees maxPages + 1
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    if (!ok || pages == 0)
        return std::nullopt;
    return pages;
}

std::string encodeFaxPage(const QImage& image) {
    constexpr uint32_t kWidth = 1728, kHeight = 2292;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (grey.width() != int(kWidth) || grey.height() != int(kHeight))
        return {};
    MemoryFile file;
    file.writable = true;
    TIFF* tif = openMemory(file, "w");
    if (!tif)
        return {};
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 196.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, 0, 1);
    std::vector<unsigned char> row(kWidth / 8);
    bool ok = true;
    for (uint32_t y = 0; y < kHeight && ok; ++y) {
        const uchar* src = grey.constScanLine(int(y));
        std::fill(row.begin(), row.end(), 0);
        for (uint32_t x = 0; x < kWidth; ++x) {
            if (src[x] < 128)
                row[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    return ok ? std::move(file.output) : std::string();
}

}  // namespace miravo::server
