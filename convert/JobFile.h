// The job file the print monitor writes, and the page counts carried in
// file names.
//
// A job file is UTF-16LE text without a byte-order mark that begins with
// "miravo" in any ASCII letter case. It lists one entry per page file:
//
//     /spool/folder/job_17_1__page_numbers__3
//
// An entry starts at the '/' that begins an absolute path (text before the
// first one is ignored) and runs to the next line feed; the page file path
// runs up to "__page_numbers__", and the page count is read from the
// entry's text by the rule of PageCountFromName (so a carriage return
// before the line feed changes nothing). The next entry starts at the next
// '/' after the end of the page file path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/JobFileCheck.h"

namespace miravo {

inline constexpr char16_t kPageNumbersMarker[] = u"__page_numbers__";
// Longest entry the program takes, in characters.
inline constexpr std::size_t kMaxJobEntryLength = 770;
// Job files beyond this size are not read.
inline constexpr std::uintmax_t kMaxJobFileBytes = 8u << 20;

// The text of a job file (UTF-16LE, an odd last byte dropped); none when
// it is not a readable regular file or is larger than kMaxJobFileBytes.
std::optional<std::u16string> ReadJobFileText(std::u16string_view path);

struct JobEntry {
    std::u16string pageFilePath;
    std::uint32_t pageCount = 0;  // as written; 0 (and negative) means one page that counts 0
    bool tooLong = false;         // the entry exceeds kMaxJobEntryLength characters
};

std::vector<JobEntry> ParseJobEntries(std::u16string_view text);

// The integer between the last '_' and the last '.' of `name`, or after the
// last '_' when there is no '.'; 0 when there is no '_', when the '.'
// stands before the '_', or when the name is empty. Read like strtol
// (leading blanks and a sign, up to the first non-digit).
long PageCountFromName(std::u16string_view name);

// The base name of a job's page files: the first page file path up to, not
// including, its second '_'. Empty when both of the first two '_' do not
// lie in the file name itself (a folder with '_', or fewer than two '_'):
// the exit clean-up could otherwise delete files that are not the job's.
std::u16string PageBaseName(std::u16string_view pageFilePath);

// The bytes of a job file listing `pages` (page file path, page count) in
// order: the product word on the first line, then one entry per line.
struct JobPage {
    std::u16string path;
    std::uint32_t count = 1;
};
std::string JobFileBytes(const std::vector<JobPage>& pages);

}  // namespace miravo
