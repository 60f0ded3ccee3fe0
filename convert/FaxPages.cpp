#include "convert/FaxPages.h"

#include <algorithm>

namespace miravo {

AddOutcome FaxPages::add(FaxDocument document) {
    if (document.pages <= 0)
        return AddOutcome::NoPages;
    if (maxPages_ > 0 && pagesWith(document.pages) > maxPages_)
        return AddOutcome::TooManyPages;
    const int index = static_cast<int>(documents_.size());
    for (int page = 0; page < document.pages; ++page)
        pages_.push_back(FaxPage{index, page, 0});
    documents_.push_back(std::move(document));
    ++revision_;
    return AddOutcome::Added;
}

bool FaxPages::move(int from, int to) {
    if (!valid(from) || !valid(to))
        return false;
    if (from == to)
        return true;
    const auto first = pages_.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
    ++revision_;
    return true;
}

bool FaxPages::turn(int index) {
    if (!valid(index))
        return false;
    FaxPage& page = pages_[static_cast<std::size_t>(index)];
    page.quarterTurns = (page.quarterTurns + 1) % 4;
    ++revision_;
    return true;
}

bool FaxPages::remove(int index) {
    if (!valid(index))
        return false;
    pages_.erase(pages_.begin() + index);
    ++revision_;
    return true;
}

int FaxPages::pagesOf(int document) const {
    return static_cast<int>(std::count_if(pages_.begin(), pages_.end(),
                                          [&](const FaxPage& p) { return p.document == document; }));
}

bool FaxPages::asConverted() const {
    if (pages_.empty())
        return false;
    const int document = pages_.front().document;
    if (documents_[static_cast<std::size_t>(document)].pages != pageCount())
        return false;
    for (int i = 0; i < pageCount(); ++i) {
        const FaxPage& p = pages_[static_cast<std::size_t>(i)];
        if (p.document != document || p.page != i || p.quarterTurns != 0)
            return false;
    }
    return true;
}

std::vector<PagePick> FaxPages::picks() const {
    std::vector<PagePick> out;
    out.reserve(pages_.size());
    for (const FaxPage& p : pages_)
        out.push_back({documents_[static_cast<std::size_t>(p.document)].tiff, p.page,
                       p.quarterTurns});
    return out;
}

JoinResult FaxPages::compose(const std::filesystem::path& output) const {
    return ComposeFaxTiff(picks(), output);
}

}  // namespace miravo
