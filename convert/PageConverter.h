// One page file of the print monitor to one multi-page fax TIFF: every page
// band is cut out, brought to portrait, fitted to the fax page, made black
// and white by the conversion method and encoded as Group 3 2-D. The bands
// never touch the disk; only the result file is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppSettings.h"
#include "convert/DecodedPage.h"
#include "convert/PageImage.h"
#include "convert/PagePlacement.h"

namespace miravo {

// A fax TIFF numbers its pages in 16 bits.
inline constexpr std::uint32_t kMaxPagesPerFile = 65535;

// True when the page file is a binary PBM, an 8-bit PGM, a one-page 8-bit
// grey TIFF or a one-page fax TIFF of the fax page's size (the renderer's
// formats), which are read without the image format plug-ins.
bool IsRendererPageFile(const std::filesystem::path& path);

// Decodes a page file by its content (the name has no extension) into
// 8-bit grey, transparent parts on white. None when the file is not a
// regular file, not an image, or claims a size beyond the limits (checked
// from the header before any pixel is decoded).
std::optional<GreyImage> DecodePageFile(const std::filesystem::path& path);

// "%s_res_%d.tif" over the document base and the file index.
std::u16string PageFileResultName(std::u16string_view documentBase, std::uint32_t fileIndex);

struct PageFileResult {
    bool decoded = false;    // the page file could be read
    bool readError = false;  // a read of it failed (an I/O error): not the file's fault
    int pages = 0;           // pages written to the result file
    std::string writeError;  // why the result file could not be written (the system's words)
};

// What reading a page file gave.
struct PageFileRead {
    bool decoded = false;
    bool readError = false;  // a read of the file failed (an I/O error)
    // Not in the renderer's formats: another program's image, placed on the
    // fax page as images are (PagePlacement.h), at the resolution it states.
    bool image = false;
    Resolution resolution;
};

// A page file read once, whose bands one thread or several convert at the
// same time (each its own bands, into a result file of its own).
struct PageFileSource {
    PageFileRead read;
    std::uint32_t bands = 0;  // pages it gives; 0 when it gives none
    std::uint32_t pageCount = 0;
    int rows = 0;            // rows of each band
    bool asTheyAre = false;  // black and white fax pages, taken as they are
    DecodedPage pixels;      // as read
    DecodedPage grey;        // one-bit pixels as grey, for the pipeline
    // The Group 3 2-D codes of a page file that is one fax page coded
    // already: its only band, taken as it is (its pixels are not read).
    std::vector<std::uint8_t> codes;
};

// Reads the page file holding `pageCount` pages (0 meaning 1) into
// `source`, whose memory is reused. Its bands stays 0 when it gives no page.
void ReadPageFile(const std::filesystem::path& path, std::uint32_t pageCount,
                  PageFileSource& source);

// A fax page the conversion gives: its bits, or the codes of a page file
// that holds it coded already.
struct ConvertedPage {
    BitView bits;
    const std::vector<std::uint8_t>* codes = nullptr;
};

// The Group 3 2-D codes of a converted page: its own, or its bits coded.
// False when it has no rows.
bool CodesOf(const ConvertedPage& page, std::vector<std::uint8_t>& codes);

// Receives the fax page of band `band`; false stops the conversion.
using BandSink = std::function<bool(std::uint32_t band, const ConvertedPage& page)>;

// Converts bands [first, first + count) of a page file read, in order,
// handing each fax page to `sink`. Stops when the sink refuses a page or a
// set `cancel` flag is seen between pages. Returns the pages handed over.
std::uint32_t ConvertPageBands(const PageFileSource& source, ConversionMethod method,
                               std::uint32_t first, std::uint32_t count, const BandSink& sink,
                               const std::atomic<bool>* cancel = nullptr);

// Converts one page file holding `pageCount` pages (0 meaning 1) into the
// result file for `fileIndex`. No file is left when no page was written.
// A set `cancel` flag stops between pages (the result file is then removed).
PageFileResult ConvertPageFile(ConversionMethod method, std::u16string_view documentBase,
                               std::uint32_t fileIndex, std::u16string_view pageFilePath,
                               std::uint32_t pageCount, const std::atomic<bool>* cancel = nullptr);
inline PageFileResult ConvertPageFile(bool dithering, std::u16string_view documentBase,
                                      std::uint32_t fileIndex, std::u16string_view pageFilePath,
                                      std::uint32_t pageCount,
                                      const std::atomic<bool>* cancel = nullptr) {
    return ConvertPageFile(dithering ? ConversionMethod::Dithering : ConversionMethod::Threshold,
                           documentBase, fileIndex, pageFilePath, pageCount, cancel);
}

// The pipeline of one band, for callers that hold the grey pixels already:
// band to fax page, then to bits.
class PagePipeline {
  public:
    // A band of the renderer's page files: fitted to the fax page.
    const BitPage& run(GreyView band, ConversionMethod method);
    // A band of another program's image: placed as images are, keeping its
    // shape and, when `resolution` is known, its size (PagePlacement.h); a
    // band of exactly the fax page's size is taken as a fax page.
    const BitPage& runImage(GreyView band, Resolution resolution, ConversionMethod method);
    const BitPage& run(GreyView band, bool dithering) {
        return run(band, dithering ? ConversionMethod::Dithering : ConversionMethod::Threshold);
    }

  private:
    const BitPage& toBits(GreyView page, ConversionMethod method);

    GreyImage canvas_;
    GreyImage turned_;
    BitPage bits_;
};

}  // namespace miravo
