#include "printmon/backend/JobOptions.h"

#include <algorithm>

namespace miravo::backend {

namespace {

struct Option {
    std::string name;
    std::string value;
};

// Splits the options into names and unquoted values.
std::vector<Option> parsed(std::string_view options) {
    std::vector<Option> all;
    std::size_t i = 0;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < options.size()) {
        while (i < options.size() && space(options[i]))
            ++i;
        if (i >= options.size())
            break;
        Option option;
        while (i < options.size() && !space(options[i]) && options[i] != '=')
            option.name += options[i++];
        if (i < options.size() && options[i] == '=') {
            ++i;
            char quote = 0;
            while (i < options.size() && (quote || !space(options[i]))) {
                const char c = options[i++];
                if (c == '\\' && i < options.size())
                    option.value += options[i++];
                else if (quote && c == quote)
                    quote = 0;
                else if (!quote && (c == '\'' || c == '"'))
                    quote = c;
                else
                    option.value += c;
            }
        }
        all.push_back(std::move(option));
    }
    return all;
}

}  // namespace

std::optional<std::string> JobOption(std::string_view options, std::string_view name) {
    std::optional<std::string> found;
    for (Option& option : parsed(options)) {
        if (option.name == name)
            found = std::move(option.value);
    }
    return found;
}

std::vector<std::string> IgnoredPageOptions(std::string_view options) {
    // Values that ask for nothing to change are not worth a word.
    struct Ignored {
        std::string_view name;
        std::string_view harmless;  // the value that changes nothing, if any
    };
    // Pages are always fitted to the fax page, and turned when they fit
    // larger so: fit-to-page asks for nothing more.
    static constexpr Ignored kIgnored[] = {
        {"number-up", "1"}, {"orientation-requested", "3"}, {"landscape", "false"},
        {"scaling", "100"}, {"page-set", "all"},            {"mirror", "false"}};
    std::vector<std::string> found;
    for (const Option& option : parsed(options)) {
        for (const Ignored& ignored : kIgnored) {
            if (option.name != ignored.name || option.value == ignored.harmless)
                continue;
            // A plain name means "true".
            std::string shown = option.name + "=" + (option.value.empty() ? "true" : option.value);
            if (std::find(found.begin(), found.end(), shown) == found.end())
                found.push_back(std::move(shown));
        }
    }
    return found;
}

}  // namespace miravo::backend
