#include "cli/RecordArgument.h"

#include <charconv>

namespace miravo::cli {

std::int64_t ResolveRecord(const Journal& journal, const std::string& text, std::string& error) {
    std::int64_t id = 0;
    if (text == "last") {
        id = journal.latest();
        if (id == 0)
            error = "the sent-fax journal holds no record yet";
        return id;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (ec != std::errc() || end != text.data() + text.size() || id <= 0) {
        error = "RECORD is a record number from --journal, or last";
        return 0;
    }
    if (!journal.send(id)) {
        error = "the sent-fax journal has no record " + text;
        return 0;
    }
    return id;
}

}  // namespace miravo::cli
