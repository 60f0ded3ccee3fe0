#include "convert/PageConverter.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
#include "convert/ImageLibrary.h"
#include "convert/MethodConversion.h"
#include "convert/NetpbmHeader.h"
#include "convert/PageMemory.h"

namespace miravo {

namespace {

// The header of the Netpbm page file open as `fd`, when it is one read here.
std::optional<NetpbmHeader> netpbmHeaderOf(int fd) {
    std::uint8_t head[kNetpbmHeaderMax];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got <= 0)
        return std::nullopt;
    return ParseNetpbmHeader(head, static_cast<std::size_t>(got));
}

// A binary PBM or 8-bit PGM page file (what the renderer writes) read in one
// call straight into the page's memory. False when the file is short or too
// large, as the image library would refuse it too.
bool readNetpbmPage(int fd, const struct stat& info, const NetpbmHeader& header,
                    DecodedPage& page) {
    if (!WithinPageFileLimits(header.width, header.height))
        return false;
    const std::size_t bytes = header.rowBytes() * static_cast<std::size_t>(header.height);
    if (static_cast<std::uint64_t>(info.st_size) < header.dataOffset + bytes ||
        !page.allocate(header.width, header.height, header.bilevel))
        return false;
    page.zeroGrey = 255;  // a set bit is black
    page.oneGrey = 0;
    return ::lseek(fd, static_cast<off_t>(header.dataOffset), SEEK_SET) >= 0 &&
           ReadFully(fd, page.pixels.data(), bytes) == static_cast<std::ptrdiff_t>(bytes);
}

// The renderer's one-page TIFF page files: 8-bit grey for a page with grey,
// or a black and white fax page coded as the fax document holds it.
enum class TiffPageKind { Grey, Fax };

std::optional<TiffPageKind> tiffPageKind(TIFF* tiff) {
    std::uint32_t width = 0, height = 0, options = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0, compression = 0;
    std::uint16_t planar = PLANARCONFIG_CONTIG, fillOrder = FILLORDER_MSB2LSB;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) || samples != 1 ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) ||
        !TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar) || TIFFIsTiled(tiff) ||
        TIFFNumberOfDirectories(tiff) != 1)
        return std::nullopt;
    if (bits == 8 && photometric == PHOTOMETRIC_MINISBLACK)
        return TiffPageKind::Grey;
    // The fax page exactly: one strip of Group 3 2-D codes, nothing else
    // that would change how its codes read.
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetField(tiff, TIFFTAG_GROUP3OPTIONS, &options);
    if (bits == 1 && photometric == PHOTOMETRIC_MINISWHITE && width == kFaxWidth &&
        height == kFaxHeight && compression == COMPRESSION_CCITTFAX3 &&
        options == GROUP3OPT_2DENCODING && fillOrder == FILLORDER_MSB2LSB &&
        TIFFNumberOfStrips(tiff) == 1)
        return TiffPageKind::Fax;
    return std::nullopt;
}

// The most a fax page's codes take: every row coded in the longest codes
// of its 1,728 pixels is far less.
constexpr std::uint64_t kMaxFaxPageCodes = 8u << 20;

// Reads a one-page TIFF page file of the renderer's straight into the
// page's memory, row by row; a fax page's codes go to `codes` instead when
// it asks for them, and are then not decoded. Nothing when the file is no
// such TIFF: the image library then decodes it. Without a page, only tells
// whether it is one.
std::optional<bool> readTiffPageFile(int fd, DecodedPage* page,
                                     std::vector<std::uint8_t>* codes = nullptr) {
    std::uint8_t magic[4] = {};
    if (::pread(fd, magic, sizeof magic, 0) != 4 ||
        !((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
          (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42)))
        return std::nullopt;
    const int own = ::dup(fd);  // the library closes what it is given
    if (own < 0)
        return std::nullopt;
    // The copy shares the file's offset: it is put back afterwards, so that
    // the image library, which reads on from there, finds the file's start.
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    struct OffsetBack {
        int fd;
        off_t offset;
        ~OffsetBack() { ::lseek(fd, offset, SEEK_SET); }
    } offsetBack{fd, offset};
    ::lseek(own, 0, SEEK_SET);
    TIFF* tiff = TIFFFdOpen(own, "page", "rm");
    if (!tiff) {
        ::close(own);
        return std::nullopt;
    }
    struct Close {
        TIFF* tiff;
        ~Close() { TIFFClose(tiff); }
    } close{tiff};
    const std::optional<TiffPageKind> kind = tiffPageKind(tiff);
    if (!kind || !page)
        return kind.has_value() ? std::optional<bool>(true) : std::nullopt;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    if (*kind == TiffPageKind::Fax && codes) {
        const std::uint64_t size = TIFFRawStripSize64(tiff, 0);
        if (size == 0 || size > kMaxFaxPageCodes)
            return false;
        codes->resize(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(tiff, 0, codes->data(), static_cast<tmsize_t>(size)) !=
            static_cast<tmsize_t>(size))
            return false;
        page->width = static_cast<int>(width);
        page->height = static_cast<int>(height);
        page->bilevel = true;
        return true;
    }
    const bool bilevel = *kind == TiffPageKind::Fax;
    if (!WithinPageFileLimits(width, height) ||
        !page->allocate(static_cast<int>(width), static_cast<int>(height), bilevel))
        return false;
    page->zeroGrey = 255;  // min-is-white: a set bit is black
    page->oneGrey = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, page->row(static_cast<int>(y)), y, 0) != 1)
            return false;
    }
    return true;
}

// Reads the page file: one bit per pixel stays as it is, anything else
// becomes 8-bit grey with transparent parts on white.
PageFileRead decodePageFile(const std::filesystem::path& path, DecodedPage& page,
                            std::vector<std::uint8_t>* codes = nullptr) {
    PageFileRead read;
    // A FIFO or device would block or never end; only plain files are read.
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return read;
    if (const std::optional<NetpbmHeader> header = netpbmHeaderOf(fd)) {
        read.decoded = readNetpbmPage(fd, info, *header, page);
    } else if (const std::optional<bool> tiff = readTiffPageFile(fd, &page, codes)) {
        read.decoded = *tiff;
    } else if (info.st_size > 0) {
        const ImageDecoded decoded = DecodeImageFile(fd, info.st_size, page);
        read.decoded = decoded.decoded;
        read.readError = decoded.readError;
        read.image = true;
        read.resolution = Sane(Resolution{decoded.xDpi, decoded.yDpi});
    }
    ::close(fd);
    return read;
}

// A one-bit page as grey, each bit its value's grey level.
bool greyOfBits(const DecodedPage& bits, DecodedPage& grey) {
    if (!grey.allocate(bits.width, bits.height, false))
        return false;
    for (int y = 0; y < bits.height; ++y) {
        const std::uint8_t* src = bits.row(y);
        std::uint8_t* dst = grey.row(y);
        for (int x = 0; x < bits.width; ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1 ? bits.oneGrey : bits.zeroGrey;
    }
    return true;
}

// Whether bands of `rows` rows of a one-bit image need neither turning nor
// scaling and both its colours are pure black or white: then threshold and
// dithering would give its pixels back unchanged, so they are taken as they
// are. False when its bands need the grey pipeline.
bool blackAndWhiteAsItIs(const DecodedPage& image, int rows) {
    const int grey0 = image.zeroGrey;
    const int grey1 = image.oneGrey;
    return image.bilevel && image.width == kFaxWidth && rows == kFaxHeight &&
           (grey0 == 0 || grey0 == 255) && (grey1 == 0 || grey1 == 255);
}

// The fax rows of rows [top, top + rows) of an image blackAndWhiteAsItIs
// takes as it is, whose set bits are white or whose colours are one.
void takeBlackAndWhiteBand(const DecodedPage& image, int top, int rows, BitPage& out) {
    const int grey0 = image.zeroGrey;
    const int grey1 = image.oneGrey;
    if (out.width != kFaxWidth || out.height != kFaxHeight)
        out = BitPage(kFaxWidth, kFaxHeight);
    // Fax bits are 1 for black: a set pixel keeps its bit when colour 1 is
    // black, clear pixels are black when colour 0 is.
    const std::uint8_t flip = grey0 == 0 ? 0xFF : 0x00;
    const std::uint8_t keep = grey0 == grey1 ? 0x00 : 0xFF;
    const std::size_t rowBytes = out.rowBytes();
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* src = image.row(top + y);
        std::uint8_t* dst = out.bits.data() + rowBytes * static_cast<std::size_t>(y);
        for (std::size_t i = 0; i < rowBytes; ++i)
            dst[i] = static_cast<std::uint8_t>((src[i] & keep) ^ flip);
    }
}

}  // namespace

bool IsRendererPageFile(const std::filesystem::path& path) {
    struct stat info {};
    const int fd = OpenRegularFile(path, info);
    if (fd < 0)
        return false;
    bool own = netpbmHeaderOf(fd).has_value();
    if (!own)
        own = readTiffPageFile(fd, nullptr).has_value();
    ::close(fd);
    return own;
}

std::optional<GreyImage> DecodePageFile(const std::filesystem::path& path) {
    DecodedPage page;
    DecodedPage grey;
    if (!decodePageFile(path, page).decoded || (page.bilevel && !greyOfBits(page, grey)))
        return std::nullopt;
    const DecodedPage& source = page.bilevel ? grey : page;
    GreyImage image(source.width, source.height);
    for (int y = 0; y < source.height; ++y)
        std::memcpy(image.row(y), source.row(y), static_cast<std::size_t>(source.width));
    return image;
}

std::u16string PageFileResultName(std::u16string_view documentBase, std::uint32_t fileIndex) {
    return std::u16string(documentBase) + u"_res_" + toU16(static_cast<long>(fileIndex)) + u".tif";
}

const BitPage& PagePipeline::run(GreyView band, ConversionMethod method) {
    // A band that is the fax page already (as miravo-print renders them)
    // would only be copied onto the canvas unchanged: it is made black and
    // white where it lies.
    GreyView page = band;
    if (band.width != kFaxWidth || band.height != kFaxHeight) {
        PlaceOnFaxPage(band, canvas_, turned_);
        page = canvas_.view();
    }
    return toBits(page, method);
}

const BitPage& PagePipeline::runImage(GreyView band, Resolution resolution,
                                      ConversionMethod method) {
    // A band of the fax page's size is a fax page, whatever resolution its
    // file claims (many programs write a made-up one).
    if (band.width == kFaxWidth && band.height == kFaxHeight)
        return toBits(band, method);
    DrawPlacedImage(band, resolution, canvas_, turned_);
    return toBits(canvas_.view(), method);
}

const BitPage& PagePipeline::toBits(GreyView page, ConversionMethod method) {
    ConvertByMethod(page, method, bits_);
    return bits_;
}

bool CodesOf(const ConvertedPage& page, std::vector<std::uint8_t>& codes) {
    if (!page.codes)
        return EncodeFaxPage(page.bits, codes);
    codes = *page.codes;
    return !codes.empty();
}

void ReadPageFile(const std::filesystem::path& path, std::uint32_t pageCount,
                  PageFileSource& source) {
    source.codes.clear();
    source.bands = 0;
    source.rows = 0;
    source.asTheyAre = false;
    // Only a page file of one page can be one fax page coded already.
    source.read = decodePageFile(path, source.pixels, pageCount <= 1 ? &source.codes : nullptr);
    if (!source.read.decoded) {
        source.codes.clear();
        return;
    }
    if (!source.codes.empty()) {
        source.pageCount = 1;
        source.rows = kFaxHeight;
        source.bands = 1;
        return;
    }
    const DecodedPage& image = source.pixels;
    const std::uint32_t bands = BandCount(pageCount);
    const int rows = PageBand(image.height, pageCount, 0).rows;
    // Fewer rows than pages cut no page; more pages than one document can
    // number are refused rather than ground through.
    if (bands > kMaxPagesPerFile || rows == 0)
        return;
    // All bands share one size, so the first tells whether a one-bit page
    // file can be taken as it is; otherwise it goes to grey like any other.
    source.asTheyAre = blackAndWhiteAsItIs(image, rows);
    if (!source.asTheyAre && image.bilevel && !greyOfBits(image, source.grey))
        return;
    source.pageCount = pageCount;
    source.rows = rows;
    source.bands = bands;
}

std::uint32_t ConvertPageBands(const PageFileSource& source, ConversionMethod method,
                               std::uint32_t first, std::uint32_t count, const BandSink& sink,
                               const std::atomic<bool>* cancel) {
    if (source.bands == 0 || first >= source.bands || count > source.bands - first)
        return 0;
    if (!source.codes.empty()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return 0;
        return sink(first, ConvertedPage{BitView(), &source.codes}) ? 1 : 0;
    }
    // Buffers kept per thread from band to band.
    thread_local PagePipeline pipeline;
    thread_local BitPage taken;
    const GreyView whole =
        !source.asTheyAre && source.pixels.bilevel ? source.grey.grey() : source.pixels.grey();
    std::uint32_t handed = 0;
    for (std::uint32_t k = first; k < first + count; ++k) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        const BandGeometry band = PageBand(source.pixels.height, source.pageCount, k);
        BitView bits;
        if (source.asTheyAre && source.pixels.zeroGrey == 255 && source.pixels.oneGrey == 0) {
            // Set bits are black, as in a fax page: coded where they were read.
            bits = BitView(source.pixels.row(band.top), kFaxWidth, band.rows, source.pixels.stride);
        } else if (source.asTheyAre) {
            takeBlackAndWhiteBand(source.pixels, band.top, band.rows, taken);
            bits = taken;
        } else {
            const GreyView rows = whole.band(band.top, band.rows);
            bits = source.read.image ? pipeline.runImage(rows, source.read.resolution, method)
                                     : pipeline.run(rows, method);
        }
        if (!sink(k, ConvertedPage{bits, nullptr}))
            break;
        ++handed;
    }
    return handed;
}

PageFileResult ConvertPageFile(ConversionMethod method, std::u16string_view documentBase,
                               std::uint32_t fileIndex, std::u16string_view pageFilePath,
                               std::uint32_t pageCount, const std::atomic<bool>* cancel) {
    // The page file's memory is kept per thread from page file to page file.
    thread_local PageFileSource source;
    ReadPageFile(ToFsPath(pageFilePath), pageCount, source);
    PageFileResult result;
    result.readError = source.read.readError;
    result.decoded = source.read.decoded;
    if (source.bands == 0)
        return result;
    // A failed write is the folder's or the disk's doing, not the page file's.
    auto unwritten = [&result] {
        const int error = errno;
        result.writeError = error ? std::strerror(error) : "write error";
        return result;
    };
    FaxTiffWriter writer;
    errno = 0;
    if (!writer.open(ToFsPath(PageFileResultName(documentBase, fileIndex))))
        return unwritten();
    const int total = static_cast<int>(source.bands);
    const std::uint32_t handed = ConvertPageBands(
        source, method, 0, source.bands,
        [&](std::uint32_t, const ConvertedPage& page) {
            return page.codes ? writer.addEncodedPage(*page.codes, kFaxWidth, kFaxHeight, total)
                              : writer.addPage(page.bits, total);
        },
        cancel);
    if (cancel && cancel->load(std::memory_order_relaxed) && handed < source.bands)
        return result;  // the writer removes its file
    if (handed < source.bands || !writer.close())
        return unwritten();
    result.pages = writer.pages();
    return result;
}

}  // namespace miravo
