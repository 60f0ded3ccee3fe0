#include "printmon/RenderLimits.h"

#include <cstdlib>
#include <string_view>

namespace miravo::print {

namespace {

// The value after "name=" in a comma-separated list; 0 when absent or not
// a whole positive number.
std::uint64_t valueOf(std::string_view list, std::string_view name) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string_view item = list.substr(start, end - start);
        if (item.size() > name.size() && item.substr(0, name.size()) == name &&
            item[name.size()] == '=') {
            std::uint64_t value = 0;
            for (const char c : item.substr(name.size() + 1)) {
                if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10)
                    return 0;
                value = value * 10 + static_cast<std::uint64_t>(c - '0');
            }
            return value;
        }
        start = end + 1;
    }
    return 0;
}

template <typename T>
void lower(T& limit, std::uint64_t value) {
    if (value > 0 && value < static_cast<std::uint64_t>(limit))
        limit = static_cast<T>(value);
}

}  // namespace

RenderLimits CurrentRenderLimits() {
    RenderLimits limits;
    if (const char* list = std::getenv("MIRAVO_RENDER_LIMITS")) {
        lower(limits.maxBytes, valueOf(list, "bytes"));
        lower(limits.maxMemory, valueOf(list, "memory"));
        lower(limits.maxSeconds, valueOf(list, "seconds"));
    }
    return limits;
}

std::string SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    if (bytes >= (kMiB << 10) && bytes % (kMiB << 10) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace miravo::print
