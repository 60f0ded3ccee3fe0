// What kind of document a file holds, told by its first bytes rather than
// by its name: start-up and the print stand-in both decide by it whether a
// file can be printed into page files.
#pragma once

#include <cstddef>
#include <string_view>

namespace miravo {

enum class DocumentKind { Pdf, PostScript, Image, Tiff, Unknown };

// How many of a file's first bytes SniffDocument looks at: a PDF may come
// with bytes before its "%PDF-" (a mail gateway's or web server's header),
// which PDF readers skip when the marker starts within them.
inline constexpr std::size_t kDocumentHeadBytes = 1024;

// The kind of a document whose first bytes are `head` (kDocumentHeadBytes
// when the file has them). PNG and JPEG are Image; TIFF stands apart
// because one file may hold many pages.
DocumentKind SniffDocument(std::string_view head);

// The kind of the regular file `path`; Unknown when it is no regular file
// or cannot be read.
DocumentKind SniffDocumentFile(const char* path);

}  // namespace miravo
