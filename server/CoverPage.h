// The cover page the service puts in front of a fax: a fax page with the
// destinations, the page count and the sender's text, drawn with QPainter
// (needs a QGuiApplication, the offscreen platform will do). The preview's
// "convert" and the transfer draw it alike.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace miravo::server {

struct CoverRequest {
    std::vector<std::pair<std::string, std::string>> destinations;  // (number, name), UTF-8
    int pageCount = 0;   // the whole fax, this page included
    std::string text;    // UTF-8
    std::string sender;  // the account's login
};

// How the sender's text went onto the page.
struct CoverTextFit {
    int pixelSize = 0;  // of its type, in 1/204 inch
    std::string drawn;  // UTF-8, line breaks as "\n"; ends in "…" when cut
    bool cut = false;
};

// The type of the text shrinks from 42 down to 20 units of 1/204 inch
// (about 7 pt, still legible on a fax) until the text fits its box; only
// a text too long even then is cut, at a line's end, with a "…".
inline constexpr int kLargestCoverTextPx = 42;
inline constexpr int kSmallestCoverTextPx = 20;

// The page as a one-page fax TIFF, or empty when it cannot be drawn;
// `fit`, when given, tells how the text was drawn.
std::string renderCoverPage(const CoverRequest& request, CoverTextFit* fit = nullptr);

}  // namespace miravo::server
