#include "app/JobFileCheck.h"

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo {

bool CheckJobFile(std::u16string_view path) {
    if (path.empty())
        return false;
    struct stat info {};
    const UniqueFd fd(OpenRegularFile(ToFsPath(path), info));
    if (!fd)
        return false;
    char head[12];
    if (ReadFully(fd.get(), head, sizeof head) != static_cast<std::ptrdiff_t>(sizeof head))
        return false;
    return equalsIgnoreAsciiCase(fromUtf16le(std::string_view(head, sizeof head)), u"miravo");
}

}  // namespace miravo
