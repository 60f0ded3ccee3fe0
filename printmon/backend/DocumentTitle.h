// The title of a print job as it may appear in a file name: the print
// system passes whatever the printing application called the document.
#pragma once

#include <string>
#include <string_view>

namespace miravo::backend {

// `title` with path separators and C0 controls made blanks, C1 controls
// and bidirectional formatting characters removed, broken UTF-8 made '?',
// leading dots and blanks and trailing blanks dropped (never a hidden
// file, never "." or ".."), cut to at most 100 bytes on a character
// boundary. "document" when nothing usable is left.
std::string SafeDocumentTitle(std::string_view title);

}  // namespace miravo::backend
