#include "convert/PageMemory.h"

#include <sys/mman.h>

#include <utility>

namespace miravo {

namespace {

constexpr std::size_t kHugePage = 2u << 20;

}  // namespace

PageMemory::PageMemory(std::size_t bytes) {
    if (bytes == 0)
        return;
    // Huge pages must start on a 2 MB boundary: map one more and use the
    // aligned part.
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    const std::size_t total = rounded + kHugePage;
    void* mapping =
        ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
#ifdef MADV_HUGEPAGE
    // Only a hint: without transparent huge pages the memory stays usable.
    ::madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
    mapping_ = mapping;
    mappingSize_ = total;
    data_ = reinterpret_cast<std::uint8_t*>(aligned);
    size_ = bytes;
}

PageMemory::~PageMemory() {
    release();
}

PageMemory::PageMemory(PageMemory&& other) noexcept {
    *this = std::move(other);
}

PageMemory& PageMemory::operator=(PageMemory&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappingSize_ = std::exchange(other.mappingSize_, 0);
    }
    return *this;
}

void PageMemory::release() {
    if (mapping_)
        ::munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
    mappingSize_ = 0;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace miravo
