#include "app/DocumentKind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/FileBytes.h"

namespace miravo {

DocumentKind SniffDocument(std::string_view head) {
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    if (starts("%PDF-"))
        return DocumentKind::Pdf;
    if (starts("%!"))
        return DocumentKind::PostScript;
    if (starts("\x89PNG\r\n\x1a\n") || starts("\xFF\xD8\xFF"))
        return DocumentKind::Image;
    if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4)))
        return DocumentKind::Tiff;
    if (head.substr(0, kDocumentHeadBytes).find("%PDF-") != std::string_view::npos)
        return DocumentKind::Pdf;
    return DocumentKind::Unknown;
}

DocumentKind SniffDocumentFile(const char* path) {
    // O_NONBLOCK: a named pipe given as a document must not block the start.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return DocumentKind::Unknown;
    struct stat info {};
    char head[kDocumentHeadBytes] = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const std::ptrdiff_t got = regular ? ReadFully(fd, head, sizeof head) : -1;
    ::close(fd);
    if (got <= 0)
        return DocumentKind::Unknown;
    return SniffDocument(std::string_view(head, static_cast<std::size_t>(got)));
}

}  // namespace miravo
