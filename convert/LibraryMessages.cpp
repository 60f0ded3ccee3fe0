#include "convert/LibraryMessages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace miravo {

namespace {

constexpr std::size_t kKeptBytes = 4096;

std::mutex& guard() {
    static std::mutex mutex;
    return mutex;
}

std::string& kept() {
    static std::string messages;
    return messages;
}

void keep(const char* module, const char* format, va_list arguments) {
    // Qt's TIFF plug-in opens every file it is asked about under the name
    // "foo", also to learn whether it is a TIFF at all; what libtiff says
    // under that name is about the question, not about the document.
    if (module && std::strcmp(module, "foo") == 0)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, format ? format : "", arguments);
    std::string message = module && *module ? std::string(module) + ": " + line : line;
    std::lock_guard lock(guard());
    std::string& messages = kept();
    // A damaged file can make a message for every row: the first ones tell.
    if (messages.size() + message.size() + 1 > kKeptBytes)
        return;
    messages += message;
    messages += '\n';
}

}  // namespace

void KeepLibraryMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(keep);
        TIFFSetWarningHandler(keep);
    });
}

std::string TakeLibraryMessages() {
    std::lock_guard lock(guard());
    std::string messages;
    messages.swap(kept());
    while (!messages.empty() && messages.back() == '\n')
        messages.pop_back();
    return messages;
}

}  // namespace miravo
