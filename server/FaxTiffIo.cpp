#include "server/FaxTiffIo.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "convert/FaxTiff.h"
#include "convert/PageImage.h"

namespace miravo::server {

namespace {

// A read-only TIFF stream over bytes in memory.
struct MemoryFile {
    std::string_view input;
    toff_t pos = 0;

    std::size_t size() const { return input.size(); }
};

tsize_t memRead(thandle_t h, tdata_t buf, tsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const std::string_view data = f->input;
    if (f->pos >= data.size() || size <= 0)
        return 0;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(size), data.size() - f->pos);
    std::memcpy(buf, data.data() + f->pos, n);
    f->pos += n;
    return static_cast<tsize_t>(n);
}

tsize_t memWrite(thandle_t, tdata_t, tsize_t) {
    return 0;
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

constexpr tmsize_t kMaxDecodedStrip = 16 * 1024 * 1024;

// Every strip of the current page lies within the file.
bool stripsInside(TIFF* tif, std::size_t fileSize) {
    const uint32_t strips = TIFFNumberOfStrips(tif);
    uint64_t* offsets = nullptr;
    uint64_t* counts = nullptr;
    if (strips == 0 || !TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts)
        return false;
    for (uint32_t i = 0; i < strips; ++i) {
        if (counts[i] == 0 || offsets[i] > fileSize || counts[i] > fileSize - offsets[i])
            return false;
    }
    return true;
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
    // Pages are counted along the directory chain; only the first page's
    // first strip is decoded, so a document whose pages all point at one
    // huge strip costs no more than one page.
    int pages = 0;
    bool ok = true;
    do {
        uint32_t width = 0, height = 0;
        if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0 ||
            width > 20000 || height > 20000 || TIFFIsTiled(tif) || !stripsInside(tif, bytes.size())) {
            ok = false;
            break;
        }
        if (pages == 0) {
            const tmsize_t stripSize = TIFFStripSize(tif);
            if (stripSize <= 0 || stripSize > kMaxDecodedStrip) {
                ok = false;
                break;
            }
            std::vector<unsigned char> strip(static_cast<std::size_t>(stripSize));
            if (TIFFReadEncodedStrip(tif, 0, strip.data(), stripSize) < 0) {
                ok = false;
                break;
            }
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
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (grey.width() != kFaxWidth || grey.height() != kFaxHeight)
        return {};
    BitPage bits;
    Threshold(GreyView{grey.constBits(), grey.width(), grey.height(), grey.bytesPerLine()}, bits);

    // The project's fax TIFF writer works on files: write one beside the
    // other temporary files, read it back, remove it.
    std::string name = (std::filesystem::temp_directory_path() / "miravo-page-XXXXXX").string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return {};
    ::close(fd);
    const std::filesystem::path path(name);
    std::string bytes;
    {
        FaxTiffWriter writer;
        if (writer.open(path) && writer.addPage(bits, 1) && writer.close()) {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return bytes;
}

}  // namespace miravo::server
