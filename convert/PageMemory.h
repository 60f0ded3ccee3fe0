// Memory for whole page images. A fresh buffer is paid for with one page
// fault per 4 KB the first time it is written, and on virtual machines a
// fault costs more than the pixel work on those 4 KB: a 4 MB grey page took
// over 10 ms just to be touched. Page memory asks the system for huge pages
// (2 MB per fault) where it offers them, and is plain memory elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace miravo {

class PageMemory {
  public:
    PageMemory() = default;
    // `bytes` of zeroed memory; empty() when the system has none to give.
    explicit PageMemory(std::size_t bytes);
    ~PageMemory();
    PageMemory(PageMemory&& other) noexcept;
    PageMemory& operator=(PageMemory&& other) noexcept;
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return data_ == nullptr; }

  private:
    void release();

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;
    std::size_t mappingSize_ = 0;
};

}  // namespace miravo
