#include "printmon/backend/DocumentStarts.h"

namespace miravo::backend {

namespace {

constexpr char kEnd[] = "%%EOF";
constexpr char kHead[] = "%PDF-";
constexpr int kMarkLength = 5;
// Line ends and padding between one document's end and the next's head.
constexpr int kMaxBlanks = 64;

bool blank(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '\f' || c == '\0';
}

}  // namespace

void DocumentStarts::feed(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++offset_) {
        const char c = bytes[i];
        if (afterEnd_) {
            if (headMatched_ == 0 && blank(c) && blanks_ < kMaxBlanks) {
                ++blanks_;
                continue;
            }
            if (c == kHead[headMatched_]) {
                if (headMatched_ == 0)
                    headAt_ = offset_;
                if (++headMatched_ == kMarkLength) {
                    starts_.push_back(headAt_);
                    afterEnd_ = false;
                    headMatched_ = 0;
                }
                continue;
            }
            afterEnd_ = false;
            headMatched_ = 0;
        }
        if (c == kEnd[endMatched_]) {
            if (++endMatched_ == kMarkLength) {
                afterEnd_ = true;
                blanks_ = 0;
                endMatched_ = 0;
            }
        } else if (c == '%') {
            // "%%%EOF" still ends a document.
            endMatched_ = endMatched_ == 2 ? 2 : 1;
        } else {
            endMatched_ = 0;
        }
    }
}

}  // namespace miravo::backend
