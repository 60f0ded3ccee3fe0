#include "convert/FaxTiff.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "convert/FaxCoder.h"
#include "convert/PagePlacement.h"

namespace miravo {

namespace {

// Bounds that keep a hostile or broken input from costing unbounded memory.
constexpr std::uint32_t kMaxJoinWidth = 20000;
constexpr std::uint32_t kMaxJoinHeight = 100000;
constexpr std::uint64_t kMaxColourPixels = 40'000'000;  // 160 MB of RGBA
constexpr std::uint64_t kMaxStripBytes = 64u << 20;
constexpr tmsize_t kMaxSingleAlloc = 256 << 20;

int collectMessage(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    auto* sink = static_cast<std::string*>(userData);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *sink = (module ? std::string(module) + ": " : std::string()) + text;
    return 1;  // handled: nothing goes to stderr
}

// libtiff handles whose complaints land in a string instead of stderr.
struct Options {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    explicit Options(std::string* sink) {
        TIFFOpenOptionsSetErrorHandlerExtR(options, collectMessage, sink);
        TIFFOpenOptionsSetWarningHandlerExtR(options, collectMessage, sink);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAlloc);
    }
    ~Options() { TIFFOpenOptionsFree(options); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
};

struct TiffCloser {
    void operator()(TIFF* tif) const {
        if (tif)
            TIFFClose(tif);
    }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openForReading(const std::filesystem::path& path, std::string* sink) {
    Options options(sink);
    return TiffPtr(TIFFOpenExt(path.c_str(), "r", options.options));
}

void setPageTags(TIFF* tif, std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                 std::uint32_t group3Options, float xDpi, float yDpi, std::uint16_t unit,
                 std::uint16_t fillOrder, int pageIndex, int total) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    // Resolution before the coding options: the 2-D coder picks its K
    // factor from the vertical resolution.
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, xDpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, yDpi);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, group3Options);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(pageIndex),
                 static_cast<std::uint16_t>(total));
}

// The Group 3 2-D codes of a page at `linesPerInch`; false when it has no rows.
bool codePage(const BitView& page, double linesPerInch, std::vector<std::uint8_t>& codes) {
    codes.clear();
    if (page.width <= 0 || page.height <= 0 || !page.bits)
        return false;
    CodeFaxRows(page.bits, page.width, page.height, page.rowBytes, FaxCodingRows(linesPerInch),
                codes);
    return true;
}

bool encodePage(TIFF* tif, const BitView& page, float xDpi, float yDpi, std::uint16_t unit,
                int pageIndex, int total) {
    thread_local std::vector<std::uint8_t> codes;
    if (!codePage(page, unit == RESUNIT_CENTIMETER ? yDpi * 2.54 : yDpi, codes))
        return false;
    setPageTags(tif, static_cast<std::uint32_t>(page.width),
                static_cast<std::uint32_t>(page.height), static_cast<std::uint32_t>(page.height),
                GROUP3OPT_2DENCODING, xDpi, yDpi, unit, FILLORDER_MSB2LSB, pageIndex, total);
    const auto size = static_cast<tmsize_t>(codes.size());
    if (TIFFWriteRawStrip(tif, 0, codes.data(), size) != size)
        return false;
    return TIFFWriteDirectory(tif) == 1;
}

}  // namespace

bool EncodeFaxPage(const BitView& page, std::vector<std::uint8_t>& codes) {
    return codePage(page, kFaxYDpi, codes);
}

struct FaxTiffWriter::State {
    std::string error;
    TiffPtr tif;
};

FaxTiffWriter::FaxTiffWriter() : state_(std::make_unique<State>()) {}

FaxTiffWriter::~FaxTiffWriter() {
    if (state_->tif) {
        state_->tif.reset();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
}

bool FaxTiffWriter::open(const std::filesystem::path& path) {
    if (state_->tif)
        return false;
    path_ = path;
    pages_ = 0;
    failed_ = false;
    Options options(&state_->error);
    state_->tif.reset(TIFFOpenExt(path.c_str(), "w", options.options));
    return state_->tif != nullptr;
}

bool FaxTiffWriter::open(int fd, const std::filesystem::path& path) {
    if (state_->tif) {
        ::close(fd);
        return false;
    }
    path_ = path;
    pages_ = 0;
    failed_ = false;
    Options options(&state_->error);
    state_->tif.reset(TIFFFdOpenExt(fd, path.c_str(), "w", options.options));
    if (!state_->tif)
        ::close(fd);
    return state_->tif != nullptr;
}

bool FaxTiffWriter::addPage(const BitView& page, int totalPages, int xDpi, int yDpi) {
    if (!state_->tif || failed_)
        return false;
    if (!encodePage(state_->tif.get(), page, static_cast<float>(xDpi), static_cast<float>(yDpi),
                    RESUNIT_INCH, pages_, totalPages)) {
        failed_ = true;
        return false;
    }
    ++pages_;
    return true;
}

bool FaxTiffWriter::addEncodedPage(const std::vector<std::uint8_t>& codes, int width, int height,
                                   int totalPages) {
    if (!state_->tif || failed_)
        return false;
    TIFF* tif = state_->tif.get();
    setPageTags(tif, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                static_cast<std::uint32_t>(height), GROUP3OPT_2DENCODING, kFaxXDpi, kFaxYDpi,
                RESUNIT_INCH, FILLORDER_MSB2LSB, pages_, totalPages);
    auto* data = const_cast<std::uint8_t*>(codes.data());
    const auto size = static_cast<tmsize_t>(codes.size());
    if (codes.empty() || TIFFWriteRawStrip(tif, 0, data, size) != size ||
        TIFFWriteDirectory(tif) != 1) {
        failed_ = true;
        return false;
    }
    ++pages_;
    return true;
}

bool FaxTiffWriter::close() {
    if (!state_->tif)
        return false;
    TIFF* tif = state_->tif.release();
    const bool flushed = TIFFFlush(tif) == 1;
    TIFFClose(tif);
    if (!flushed || failed_ || pages_ == 0) {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
        return false;
    }
    return true;
}

const std::string& FaxTiffWriter::error() const {
    return state_->error;
}

int CountTiffPages(const std::filesystem::path& path) {
    std::string sink;
    TiffPtr tif = openForReading(path, &sink);
    if (!tif)
        return -1;
    return static_cast<int>(TIFFNumberOfDirectories(tif.get()));
}

namespace {

struct PageSource {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    float xDpi = kFaxXDpi;
    float yDpi = kFaxYDpi;
    std::uint16_t unit = RESUNIT_INCH;
};

PageSource describe(TIFF* in) {
    PageSource page;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &page.height);
    float x = 0, y = 0;
    std::uint16_t unit = RESUNIT_NONE;
    if (TIFFGetField(in, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(in, TIFFTAG_YRESOLUTION, &y) &&
        x > 0 && y > 0 && x < 100000 && y < 100000) {
        page.xDpi = x;
        page.yDpi = y;
        TIFFGetFieldDefaulted(in, TIFFTAG_RESOLUTIONUNIT, &unit);
        page.unit = unit;
    }
    return page;
}

// Copies a Group 3 2-D page without decoding it.
bool copyEncodedPage(TIFF* in, TIFF* out, const PageSource& page, int index, int total) {
    std::uint32_t rowsPerStrip = page.height;
    std::uint32_t options = 0;
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(in, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(in, TIFFTAG_GROUP3OPTIONS, &options);
    TIFFGetFieldDefaulted(in, TIFFTAG_FILLORDER, &fillOrder);
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts)
        return false;
    const std::uint32_t strips = TIFFNumberOfStrips(in);
    setPageTags(out, page.width, page.height, std::min(rowsPerStrip, page.height), options,
                page.xDpi, page.yDpi, page.unit, fillOrder, index, total);
    std::vector<std::uint8_t> buffer;
    for (std::uint32_t s = 0; s < strips; ++s) {
        if (counts[s] == 0 || counts[s] > kMaxStripBytes)
            return false;
        buffer.resize(static_cast<std::size_t>(counts[s]));
        const auto size = static_cast<tmsize_t>(counts[s]);
        if (TIFFReadRawStrip(in, s, buffer.data(), size) != size)
            return false;
        if (TIFFWriteRawStrip(out, s, buffer.data(), size) != size)
            return false;
    }
    return TIFFWriteDirectory(out) == 1;
}

// Decodes any other page into fax bits: bilevel rows as they are, anything
// else through RGBA and the threshold.
bool decodePage(TIFF* in, const PageSource& page, BitPage& bits) {
    std::uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric);
    const int w = static_cast<int>(page.width);
    const int h = static_cast<int>(page.height);
    if (bps == 1 && spp == 1 && !TIFFIsTiled(in) &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
        if (TIFFScanlineSize64(in) != static_cast<std::uint64_t>((w + 7) / 8))
            return false;
        bits = BitPage(w, h);
        for (int y = 0; y < h; ++y) {
            auto* row = bits.bits.data() + bits.rowBytes() * y;
            if (TIFFReadScanline(in, row, static_cast<std::uint32_t>(y), 0) < 0)
                return false;
            if (photometric == PHOTOMETRIC_MINISBLACK) {
                for (std::size_t i = 0; i < bits.rowBytes(); ++i)
                    row[i] = static_cast<std::uint8_t>(~row[i]);
            }
        }
        if (w % 8 != 0) {  // padding bits stay white
            const auto mask = static_cast<std::uint8_t>(0xFF << (8 - w % 8));
            for (int y = 0; y < h; ++y)
                bits.bits[bits.rowBytes() * y + bits.rowBytes() - 1] &= mask;
        }
        return true;
    }
    if (static_cast<std::uint64_t>(page.width) * page.height > kMaxColourPixels)
        return false;
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(page.width) * page.height);
    if (TIFFReadRGBAImageOriented(in, page.width, page.height, raster.data(), ORIENTATION_TOPLEFT,
                                  0) != 1)
        return false;
    GreyImage grey(w, h);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        const std::uint32_t p = raster[i];
        const unsigned a = TIFFGetA(p);
        // Transparent parts show the white paper.
        const unsigned r = (TIFFGetR(p) * a + 255 * (255 - a)) / 255;
        const unsigned g = (TIFFGetG(p) * a + 255 * (255 - a)) / 255;
        const unsigned b = (TIFFGetB(p) * a + 255 * (255 - a)) / 255;
        grey.pixels[i] = static_cast<std::uint8_t>((r * 11 + g * 16 + b * 5) / 32);
    }
    Threshold(grey.view(), bits);
    return true;
}

bool isEncodedFaxPage(TIFF* in) {
    std::uint16_t compression = 0, bps = 1, spp = 1, photometric = 0;
    std::uint32_t options = 0;
    TIFFGetFieldDefaulted(in, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(in, TIFFTAG_GROUP3OPTIONS, &options);
    return compression == COMPRESSION_CCITTFAX3 && bps == 1 && spp == 1 && !TIFFIsTiled(in) &&
           photometric == PHOTOMETRIC_MINISWHITE && (options & GROUP3OPT_2DENCODING) &&
           !(options & GROUP3OPT_UNCOMPRESSED);
}

// A TIFF written under a temporary name beside its final one, renamed into
// place once whole; libtiff's messages about it go to `sink`.
struct TemporaryTiff {
    std::string path;
    std::unique_ptr<std::string> sink = std::make_unique<std::string>();
    TiffPtr tiff;  // none when it could not be made, with the reason in `error`
    std::string error;
};

TemporaryTiff OpenTemporaryTiff(const std::filesystem::path& output) {
    TemporaryTiff written;
    written.path = output.string() + ".XXXXXX";
    const int fd = ::mkstemp(written.path.data());
    if (fd < 0) {
        written.error = "cannot create " + output.string();
        return written;
    }
    {
        Options options(written.sink.get());
        written.tiff.reset(TIFFFdOpenExt(fd, written.path.c_str(), "w", options.options));
    }
    if (!written.tiff) {
        ::close(fd);
        std::error_code ec;
        std::filesystem::remove(written.path, ec);
        written.error = "cannot write " + output.string();
    }
    return written;
}

// Finishes the temporary TIFF and renames it into place; why not, when it
// cannot be (the temporary file is then the caller's to remove).
std::string PutInPlace(TemporaryTiff& written, const std::filesystem::path& output) {
    TIFF* raw = written.tiff.release();
    const bool flushed = TIFFFlush(raw) == 1;
    TIFFClose(raw);
    if (!flushed)
        return "cannot write " + output.string();
    std::error_code ec;
    std::filesystem::rename(written.path, output, ec);
    return ec ? "cannot replace " + output.string() : std::string();
}

}  // namespace

JoinResult JoinFaxTiffs(const std::vector<std::filesystem::path>& inputs,
                        const std::filesystem::path& output, MissingInput missing) {
    JoinResult result;
    std::string sink;
    // First pass: which inputs are readable, and how many pages in all.
    std::vector<std::filesystem::path> readable;
    int total = 0;
    for (const auto& input : inputs) {
        TiffPtr in = openForReading(input, &sink);
        if (!in) {
            if (missing == MissingInput::Fail) {
                result.error = "cannot read " + input.string();
                return result;
            }
            ++result.skippedInputs;
            continue;
        }
        readable.push_back(input);
        total += static_cast<int>(TIFFNumberOfDirectories(in.get()));
        if (total > 65535) {  // the page-number tag holds 16 bits
            result.error = "too many pages";
            return result;
        }
    }
    if (total == 0) {
        result.error = "no pages to join";
        return result;
    }

    TemporaryTiff written = OpenTemporaryTiff(output);
    if (!written.tiff) {
        result = JoinResult{};
        result.error = written.error;
        return result;
    }
    const std::string& temporary = written.path;
    TiffPtr& out = written.tiff;
    auto discard = [&](std::string message) {
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        result = JoinResult{};
        result.error = std::move(message);
        return result;
    };

    int index = 0;
    BitPage bits;
    for (const auto& input : readable) {
        TiffPtr in = openForReading(input, &sink);
        if (!in)
            return discard("cannot read " + input.string());
        do {
            const PageSource page = describe(in.get());
            if (page.width == 0 || page.height == 0 || page.width > kMaxJoinWidth ||
                page.height > kMaxJoinHeight)
                return discard("unsupported page size in " + input.string());
            bool done;
            if (isEncodedFaxPage(in.get())) {
                done = copyEncodedPage(in.get(), out.get(), page, index, total);
            } else {
                done = decodePage(in.get(), page, bits) &&
                       encodePage(out.get(), bits, page.xDpi, page.yDpi, page.unit, index, total);
            }
            if (!done)
                return discard("cannot copy a page of " + input.string() +
                               (sink.empty() ? std::string() : ": " + sink));
            ++index;
        } while (index < total && TIFFReadDirectory(in.get()) == 1);
    }
    if (index != total)
        return discard("page count changed while joining");
    if (std::string error = PutInPlace(written, output); !error.empty())
        return discard(error);
    result.ok = true;
    result.pages = total;
    return result;
}

namespace {

// A page written so far, named in the failure of the whole.
std::string pageName(const PagePick& pick) {
    return "page " + std::to_string(pick.page + 1) + " of " + pick.file.string();
}

// The grey fax page of a decoded page turned as picked.
void turnPage(const BitPage& bits, Resolution resolution, int quarterTurns, BitPage& out) {
    GreyImage grey(bits.width, bits.height);
    for (int y = 0; y < bits.height; ++y) {
        std::uint8_t* row = grey.row(y);
        for (int x = 0; x < bits.width; ++x)
            row[x] = bits.black(x, y) ? 0 : 255;
    }
    GreyImage canvas;
    GreyImage buffers[2];
    DrawTurnedPage(grey.view(), resolution, quarterTurns, canvas, buffers);
    Threshold(canvas.view(), out);
}

bool goToPage(TIFF* in, int page) {
    if (page < 0 || page >= 65535)
        return false;
    // Pages in a row are read on from the current one: going back to the
    // file's first page for each would read every earlier page again.
    const tdir_t current = TIFFCurrentDirectory(in);
    if (static_cast<tdir_t>(page) == current)
        return true;
    if (static_cast<tdir_t>(page) == current + 1)
        return TIFFReadDirectory(in) == 1;
    return TIFFSetDirectory(in, static_cast<tdir_t>(page)) == 1;
}

}  // namespace

bool ReadTiffPage(const std::filesystem::path& path, int page, BitPage& bits, float* xDpi,
                  float* yDpi) {
    std::string sink;
    TiffPtr in = openForReading(path, &sink);
    if (!in || !goToPage(in.get(), page))
        return false;
    const PageSource source = describe(in.get());
    if (source.width == 0 || source.height == 0 || source.width > kMaxJoinWidth ||
        source.height > kMaxJoinHeight || !decodePage(in.get(), source, bits))
        return false;
    const float toInch = source.unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
    if (xDpi)
        *xDpi = source.xDpi * toInch;
    if (yDpi)
        *yDpi = source.yDpi * toInch;
    return true;
}

JoinResult ComposeFaxTiff(const std::vector<PagePick>& picks, const std::filesystem::path& output) {
    JoinResult result;
    const int total = static_cast<int>(picks.size());
    if (total == 0 || total > 65535) {  // the page-number tag holds 16 bits
        result.error = total == 0 ? "no pages to join" : "too many pages";
        return result;
    }
    TemporaryTiff written = OpenTemporaryTiff(output);
    if (!written.tiff) {
        result = JoinResult{};
        result.error = written.error;
        return result;
    }
    const std::string& temporary = written.path;
    TiffPtr& out = written.tiff;
    std::string& sink = *written.sink;
    auto discard = [&](std::string message) {
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        result = JoinResult{};
        result.error = std::move(message);
        return result;
    };
    // Each document is opened once, however its pages are spread.
    std::map<std::filesystem::path, TiffPtr> open;
    BitPage bits;
    BitPage turned;
    for (int index = 0; index < total; ++index) {
        const PagePick& pick = picks[static_cast<std::size_t>(index)];
        TiffPtr& in = open[pick.file];
        if (!in)
            in = openForReading(pick.file, &sink);
        if (!in || !goToPage(in.get(), pick.page))
            return discard("cannot read " + pageName(pick));
        const PageSource page = describe(in.get());
        if (page.width == 0 || page.height == 0 || page.width > kMaxJoinWidth ||
            page.height > kMaxJoinHeight)
            return discard("unsupported page size in " + pageName(pick));
        bool done;
        if (pick.quarterTurns % 4 == 0 && isEncodedFaxPage(in.get())) {
            done = copyEncodedPage(in.get(), out.get(), page, index, total);
        } else if (pick.quarterTurns % 4 == 0) {
            done = decodePage(in.get(), page, bits) &&
                   encodePage(out.get(), bits, page.xDpi, page.yDpi, page.unit, index, total);
        } else {
            const float toInch = page.unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
            done = decodePage(in.get(), page, bits);
            if (done) {
                turnPage(bits, Resolution{page.xDpi * toInch, page.yDpi * toInch},
                         pick.quarterTurns, turned);
                done =
                    encodePage(out.get(), turned, kFaxXDpi, kFaxYDpi, RESUNIT_INCH, index, total);
            }
        }
        if (!done)
            return discard("cannot copy " + pageName(pick) + (sink.empty() ? "" : ": " + sink));
    }
    open.clear();
    if (std::string error = PutInPlace(written, output); !error.empty())
        return discard(error);
    result.ok = true;
    result.pages = total;
    return result;
}

}  // namespace miravo
