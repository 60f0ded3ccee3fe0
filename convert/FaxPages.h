// The pages of one fax, made of several documents: each document is
// converted once into a fax TIFF of its own and kept; the fax is the list
// of its pages in the order the user gave them, each page naming its
// document, its page there and how often it was turned. Moving, turning
// and removing pages never converts anything again; the one fax document
// is composed from the kept conversions when it is needed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "convert/FaxTiff.h"

namespace miravo {

struct FaxDocument {
    std::u16string name;          // as the user knows it
    std::filesystem::path tiff;   // its conversion, kept while the fax is open
    int pages = 0;                // pages of that conversion
};

struct FaxPage {
    int document = 0;      // index into documents()
    int page = 0;          // page of that document, from 0
    int quarterTurns = 0;  // clockwise, 0 to 3
};

enum class AddOutcome {
    Added,
    TooManyPages,  // the fax would pass its page limit: nothing was added
    NoPages,       // the document has no page
};

class FaxPages {
  public:
    // `maxPages`: the most pages the fax may hold (0 or less: no limit).
    explicit FaxPages(int maxPages = 0) : maxPages_(maxPages) {}

    void setMaxPages(int maxPages) { maxPages_ = maxPages; }
    int maxPages() const { return maxPages_; }

    // Adds all pages of `document` at the end; refused whole, never cut,
    // when the fax would pass its limit.
    AddOutcome add(FaxDocument document);
    // Pages the fax would have with `pages` more.
    int pagesWith(int pages) const { return pageCount() + pages; }

    // Moves the page at `from` so that it ends at `to` (both in [0, count)).
    bool move(int from, int to);
    // A quarter turn clockwise of the page at `index`.
    bool turn(int index);
    bool remove(int index);

    int pageCount() const { return static_cast<int>(pages_.size()); }
    bool empty() const { return pages_.empty(); }
    const std::vector<FaxDocument>& documents() const { return documents_; }
    const std::vector<FaxPage>& pages() const { return pages_; }
    // Pages of document `document` still in the fax.
    int pagesOf(int document) const;
    // Bumped by every change, so that a composed document can be told stale.
    unsigned revision() const { return revision_; }

    // The one document already is the fax: all its pages, in order, none
    // turned. Its conversion is then sent as it is.
    bool asConverted() const;
    std::vector<PagePick> picks() const;
    // Writes the fax, as its pages stand, into `output`.
    JoinResult compose(const std::filesystem::path& output) const;

  private:
    bool valid(int index) const { return index >= 0 && index < pageCount(); }

    int maxPages_ = 0;
    std::vector<FaxDocument> documents_;
    std::vector<FaxPage> pages_;
    unsigned revision_ = 0;
};

}  // namespace miravo
