// The cover page the service puts in front of a fax: a fax page with the
// destinations, the page count and the sender's text, drawn with QPainter
// (needs a QGuiApplication, the offscreen platform will do).
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

// The page as a one-page fax TIFF, or empty when it cannot be drawn.
std::string renderCoverPage(const CoverRequest& request);

}  // namespace miravo::server
