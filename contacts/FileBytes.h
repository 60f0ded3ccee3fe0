// Reading a whole file for the contacts code: regular files only, and
// without blocking on a FIFO or device that stands where a file is expected.
#pragma once

#include <filesystem>
#include <string>

namespace miravo {

enum class FileRead {
    Read,     // `bytes` holds the whole file
    Missing,  // nothing at the path
    Failed,   // something is there but could not be read as a regular file
};

FileRead ReadFileBytes(const std::filesystem::path& path, std::string& bytes);

// Whether `path` names nothing, or a regular file this process can read:
// anything else must not be replaced, since what it holds is unknown.
bool MayReplaceFile(const std::filesystem::path& path);

}  // namespace miravo
