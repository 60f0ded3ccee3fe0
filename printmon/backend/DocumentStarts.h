// A print job of several documents (`lp a.pdf b.pdf`) reaches the backend
// as one stream: the print system turns each document into PDF and passes
// the results one after the other. Read as one PDF, only the last of them
// would count (a PDF is read from its end), so the stream is cut back into
// its documents where one ends ("%%EOF") and the next begins ("%PDF-").
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace miravo::backend {

class DocumentStarts {
  public:
    // Takes the next bytes of the stream, in any pieces.
    void feed(const char* bytes, std::size_t count);
    // Where each document begins, the first at 0, in order.
    const std::vector<std::uint64_t>& starts() const { return starts_; }

  private:
    std::vector<std::uint64_t> starts_{0};
    std::uint64_t offset_ = 0;
    int endMatched_ = 0;     // of "%%EOF"
    bool afterEnd_ = false;  // "%%EOF" seen, and only blanks since
    int blanks_ = 0;
    int headMatched_ = 0;  // of "%PDF-" after an end
    std::uint64_t headAt_ = 0;
};

}  // namespace miravo::backend
