// Delivery rules of the service: which destination numbers are valid, which
// final status each one reaches (fixed by the number, so tests can rely on
// it), and what a delivery costs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace miravo::server {

// A valid number is 5 to 20 digits, optionally led by "+", with blanks, "-",
// ".", "/", "(" and ")" allowed between them. Returns it without those
// separators, or nothing when it is not valid.
std::optional<std::string> normalizeNumber(std::string_view number);

// The status a valid (normalised) number ends with, by its last two digits:
// 00 "BU" line busy, 01 "NA" no answer, 02 "FA" failed, 03 "NF" no fax
// machine, 04 "CR" call rejected; every other number "OK".
std::string finalStatusFor(std::string_view normalized);

// The status given at once to a destination whose number is not valid.
inline constexpr std::string_view kInvalidNumberStatus = "IN";

// Cost of one destination in its final status: pages × rate when delivered
// ("OK"), nothing otherwise. Rounded to cents.
double deliveryCost(int pages, double rate, std::string_view status);
// What the transfer announces (PREBILLING) for one valid destination.
double expectedCost(int pages, double rate);

// Money as the answers carry it: "%.2f".
std::string money(double amount);

// Text as the answers may carry it: valid UTF-8 (bad bytes become U+FFFD)
// without control characters other than tab and line breaks.
std::string cleanText(std::string_view utf8);

}  // namespace miravo::server
