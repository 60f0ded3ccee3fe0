// The title of a print job as it may appear in a file name: the print
// system passes whatever the printing application called the document.
#pragma once

#include <string>
#include <string_view>

namespace miravo::backend {

// `title` with path separators, control characters and broken UTF-8 made
// harmless, blanks trimmed, cut to at most 100 bytes on a character
// boundary. "document" when nothing usable is left, or when the result
// would name the current or the parent folder.
std::string SafeDocumentTitle(std::string_view title);

}  // namespace miravo::backend
