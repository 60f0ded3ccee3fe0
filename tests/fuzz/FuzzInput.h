// What the fuzz targets share: the input as UTF-16 text, and as a file for
// the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace miravo::fuzz {

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The bytes taken in pairs, low byte first (an odd last byte dropped).
inline std::u16string Utf16Le(std::string_view bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return text;
}

// A folder of this process's own, removed when the process ends.
class FuzzFolder {
  public:
    FuzzFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("miravo-fuzz-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~FuzzFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The input written to one file of this process, replaced at every call.
inline std::filesystem::path AsFile(std::string_view bytes, const char* name) {
    static const FuzzFolder folder;
    const std::filesystem::path path = folder.path() / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace miravo::fuzz
