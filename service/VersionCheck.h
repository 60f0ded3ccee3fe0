// Whether a newer version of Miravo is offered on the version page,
// "http://" + VERSION_HOST + "/miravoprinter/version.php" (VERSION_HOST is
// "host[:port]"; an empty one turns the check off). The page is one line of
// single-byte text: the newest version, one space, the download address.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace miravo {

struct AppSettings;

inline constexpr std::string_view kOwnVersion = "3.0.1";
inline constexpr std::string_view kVersionPagePath = "/miravoprinter/version.php";
inline constexpr std::size_t kMaxVersionAnswerBytes = 500;

// The value of a dotted version: the first three parts read as strtol
// reads base-10 numbers (leading blanks and a sign allowed, digits up to
// the first other character, none: 0), weighted 1, 0.001 and 0.00001;
// missing parts count 0, further parts are ignored.
double VersionValue(std::string_view version);

// True when the version's value is strictly greater than that of 3.0.1.
bool IsNewerVersion(std::string_view version);

struct VersionAnswer {
    bool newer = false;
    std::string downloadAddress;  // everything after the first space, unchanged
};

// Reads a version page's body: cut at 500 bytes and at the first NUL; the
// version is the text before the first space (none: an empty version); the
// address is written only when something follows the space.
VersionAnswer ReadVersionAnswer(std::string_view body);

// The whole check, connection included, ends within this time: a page
// that drips or never ends must not hold up the program.
inline constexpr std::chrono::milliseconds kVersionCheckDeadline{5000};

// Fetches the version page (plain HTTP, at most 500 bytes, within
// `deadline`; only a 200 answer counts) and reads it. False, with the
// address untouched, when the page cannot be had in time or offers
// nothing newer.
bool CheckForNewerVersion(const AppSettings& settings, std::string& downloadAddress,
                          std::chrono::milliseconds deadline = kVersionCheckDeadline);

// The address to hand to the desktop's "open": the download address without
// its trailing line end and blanks, when it is an absolute http or https
// address with a host, made of printable ASCII only. Nothing otherwise: any
// other address (file:, javascript:, a program path...) is never opened.
std::optional<std::string> OpenableDownloadAddress(std::string_view address);

}  // namespace miravo
