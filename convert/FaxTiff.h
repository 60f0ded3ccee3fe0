// Fax TIFF files: writing pages of 1-bit rows as CCITT Group 3 with 2-D
// coding (one strip per page, min-is-white, 204 x 196 dpi unless told
// otherwise), and joining fax TIFF files page by page into one document.
// Joining copies the encoded strips of Group 3 2-D pages as they are and
// re-encodes any other bilevel or colour page.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "convert/PageImage.h"

namespace miravo {

// Writes a multi-page fax TIFF, one page at a time.
class FaxTiffWriter {
  public:
    FaxTiffWriter();
    ~FaxTiffWriter();  // closes the file; a file not closed by close() is removed
    FaxTiffWriter(const FaxTiffWriter&) = delete;
    FaxTiffWriter& operator=(const FaxTiffWriter&) = delete;

    // Creates (or truncates) the file.
    bool open(const std::filesystem::path& path);
    // Writes into `fd`, a new empty file at `path`, which is then the
    // writer's to close (also when it cannot be opened).
    bool open(int fd, const std::filesystem::path& path);
    // Appends one page. `totalPages` goes into the page-number tag beside
    // the page's own number (0: not known yet).
    bool addPage(const BitView& page, int totalPages = 0, int xDpi = kFaxXDpi, int yDpi = kFaxYDpi);
    // Appends a fax page of `width` x `height` at 204 x 196 dpi whose
    // Group 3 2-D codes EncodeFaxPage made, as they are.
    bool addEncodedPage(const std::vector<std::uint8_t>& codes, int width, int height,
                        int totalPages);
    // Finishes the file. False when any page failed or no page was written;
    // the file is then removed.
    bool close();
    int pages() const { return pages_; }
    // The last libtiff complaint, for messages.
    const std::string& error() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::filesystem::path path_;
    int pages_ = 0;
    bool failed_ = false;
};

// The Group 3 2-D codes of one fax page at 204 x 196 dpi, in memory: what
// FaxTiffWriter::addPage writes for it. False when the page has no rows.
bool EncodeFaxPage(const BitView& page, std::vector<std::uint8_t>& codes);

enum class MissingInput {
    Skip,  // a missing or unreadable input adds no page
    Fail,  // a missing or unreadable input fails the whole join
};

struct JoinResult {
    bool ok = false;  // the output exists and holds `pages` pages
    int pages = 0;
    int skippedInputs = 0;
    std::string error;
};

// Joins the pages of `inputs`, in order, into `output`, which is replaced
// atomically (written beside it, then renamed). Page numbers are set to
// (index, total). Nothing is written when no page can be joined or any
// page fails; a half-written output never remains.
JoinResult JoinFaxTiffs(const std::vector<std::filesystem::path>& inputs,
                        const std::filesystem::path& output,
                        MissingInput missing = MissingInput::Fail);

// One page of a fax being composed: page `page` (from 0) of the TIFF
// `file`, turned `quarterTurns` quarter turns clockwise.
struct PagePick {
    std::filesystem::path file;
    int page = 0;
    int quarterTurns = 0;
};

// Writes the picked pages, in order, into `output` as one fax document,
// replaced atomically as by JoinFaxTiffs. A Group 3 2-D page that is not
// turned is copied as it is encoded; a turned page is decoded, turned and
// placed upright on a fax page (1728 x 2292 at 204 x 196 dpi). Any page
// that cannot be read fails the whole composition.
JoinResult ComposeFaxTiff(const std::vector<PagePick>& picks, const std::filesystem::path& output);

// Decodes page `page` (from 0) of a TIFF into fax bits with its
// resolution; false when it cannot.
bool ReadTiffPage(const std::filesystem::path& path, int page, BitPage& bits, float* xDpi = nullptr,
                  float* yDpi = nullptr);

// Pages of a TIFF file; -1 when it cannot be read.
int CountTiffPages(const std::filesystem::path& path);

}  // namespace miravo
