// The head of an HTTP/1.1 request (request line and header fields), read
// from the bytes received so far with firm limits on its size and the number
// of fields, so a hostile client cannot make the service keep an unbounded
// head in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace miravo::server {

struct HeadLimits {
    std::size_t maxBytes = 16 * 1024;  // request line, fields and the empty line
    std::size_t maxFields = 64;
};

struct RequestHead {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> fields;  // as received

    // The first field of that name (any case), empty when absent.
    std::string value(std::string_view name) const;
    bool has(std::string_view name) const;
    // The request line, then the fields in name order, each ending in CR LF.
    std::string text() const;
};

enum class HeadStatus {
    Incomplete,  // no empty line yet, still within the limits
    Complete,
    Malformed,
    TooLarge  // beyond HeadLimits: too long or too many fields
};

// Reads a head from the start of `bytes`. When Complete, `used` is the
// number of bytes the head took, the empty line included.
HeadStatus parseHead(std::string_view bytes, const HeadLimits& limits, RequestHead& out,
                     std::size_t& used);

}  // namespace miravo::server
