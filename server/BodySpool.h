// A request body too large to hold in memory goes to an unnamed file in the
// data folder (gone when closed) and is read back through a read-only
// mapping, so its bytes cost page cache rather than the service's heap.
#pragma once

#include <filesystem>
#include <string_view>

namespace miravo::server {

class BodySpool {
  public:
    BodySpool() = default;
    ~BodySpool();
    BodySpool(const BodySpool&) = delete;
    BodySpool& operator=(const BodySpool&) = delete;

    bool open(const std::filesystem::path& folder);
    bool append(std::string_view bytes);
    // Maps what was written; the view lives as long as the spool.
    bool map();
    std::string_view view() const { return {static_cast<const char*>(map_), size_}; }

  private:
    int fd_ = -1;
    std::size_t size_ = 0;
    void* map_ = nullptr;
};

}  // namespace miravo::server
