// The service's folders (data folder, request-log folder) hold password
// hashes, the CA key and passwords in clear. They must be this user's alone:
// a folder another user prepared (or can write into) could plant its own CA
// or read the hashes, so such a folder is refused, never repaired.
#pragma once

#include <filesystem>
#include <string>

namespace miravo::server {

// Creates the folder (0700) when missing. Refuses it (false, with a reason
// naming the path) when it or anything below it belongs to another user, is
// writable by group or others, or is a symbolic link or special file.
// Otherwise takes group and other permissions away from everything in it, so
// folders end 0700 and files 0600.
bool preparePrivateFolder(const std::filesystem::path& folder, std::string& error);

// An exclusive lock on a file in the data folder, held while the object
// lives: a second server on the same folder is refused.
class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool acquire(const std::filesystem::path& folder, std::string& error);

  private:
    int fd_ = -1;
};

}  // namespace miravo::server
