// Files as bytes: reading whole files the program keeps or is handed
// (settings, language file, contact book, mass-fax lists, job files) from
// regular files only, without blocking on a FIFO or device that stands where
// a file is expected; full reads and writes on a descriptor; and replacing a
// file atomically.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace miravo {

// An open file descriptor that closes itself.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Reads until `size` bytes are in or the file ends, going on after
// interruptions. The count read (less than `size` only at the end of the
// file), or -1 on a read error.
std::ptrdiff_t ReadFully(int fd, void* data, std::size_t size);

// Writes all `size` bytes, going on after short writes and interruptions.
bool WriteAll(int fd, const void* data, std::size_t size);

// Opens a regular file for reading, non-blocking, and fills `info`.
// Anything but a regular file (FIFO, device, folder) is refused with errno
// EINVAL, as reading it could block or never end. -1 on failure.
int OpenRegularFile(const std::filesystem::path& path, struct stat& info);

// Appends everything left to read from `fd` to `bytes`. False on a read
// error or when memory runs out.
bool ReadAllBytes(int fd, std::string& bytes);

enum class FileRead {
    Read,     // `bytes` holds the whole file
    Missing,  // nothing at the path
    Failed,   // something is there but could not be read as a regular file
};

FileRead ReadFileBytes(const std::filesystem::path& path, std::string& bytes);

// Why the file at `path` cannot be read through to its end (the system's
// words: "Permission denied", "Input/output error"), or empty when it can.
// Tells a file that is not there or not readable from one that was read
// and found to be of the wrong kind.
std::string FileReadProblem(const std::filesystem::path& path);

// Writes `data` to `path` atomically (temporary file + fsync + rename) with
// the given mode; false, with the old file untouched, on failure. Shared by
// every file the program replaces as a whole.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                         unsigned mode = 0644);

// A folder of this process's own, made unique and 0700 as `in`/`prefix`-XXXXXX
// so that no other process's file can be in it, and removed with everything
// in it when the object goes. path() is empty when it could not be made.
class PrivateFolder {
  public:
    PrivateFolder(const std::filesystem::path& in, std::string_view prefix);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Whether `path` names nothing, or a regular file this process can read:
// anything else must not be replaced, since what it holds is unknown.
bool MayReplaceFile(const std::filesystem::path& path);

}  // namespace miravo
