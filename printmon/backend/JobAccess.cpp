#include "printmon/backend/JobAccess.h"

#include <charconv>
#include <fstream>
#include <string_view>

namespace miravo::backend {

namespace {

constexpr uid_t kDefaultUidMin = 1000;
constexpr uid_t kDefaultUidMax = 60000;

// A user id written as plain decimal digits, nothing around them.
std::optional<uid_t> plainUid(std::string_view text) {
    unsigned long value = 0;
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFFFFFEul)
        return std::nullopt;
    return static_cast<uid_t>(value);
}

// The last plain value of `setting` in `loginDefs`, as the account tools
// read it; `fallback` when the file or the setting is missing or unusable.
uid_t loginDefsValue(const std::filesystem::path& loginDefs, std::string_view setting,
                     uid_t fallback) {
    std::ifstream in(loginDefs);
    std::string line;
    std::optional<uid_t> found;
    while (std::getline(in, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, setting.size(), setting) != 0)
            continue;
        const std::size_t value = line.find_first_not_of(" \t", start + setting.size());
        if (value == start + setting.size() || value == std::string::npos)
            continue;  // another setting that begins with the same word
        const std::size_t end = line.find_first_of(" \t#", value);
        if (const auto uid = plainUid(std::string_view(line).substr(value, end - value)))
            found = uid;  // the last one counts, as for the account tools
    }
    return found.value_or(fallback);
}

}  // namespace

uid_t LoginUidMin(const std::filesystem::path& loginDefs) {
    return loginDefsValue(loginDefs, "UID_MIN", kDefaultUidMin);
}

uid_t LoginUidMax(const std::filesystem::path& loginDefs) {
    return loginDefsValue(loginDefs, "UID_MAX", kDefaultUidMax);
}

std::optional<std::string> JobRefusal(const JobUser& user, const char* authUid, uid_t uidMin,
                                      uid_t uidMax) {
    if (!authUid || !*authUid)
        return "the job was sent without authentication: the Miravo printer takes jobs only from "
               "the logged-in user who prints them (the queue needs the authenticated operation "
               "policy; add it again with miravo-add-printer)";
    const std::optional<uid_t> sender = plainUid(authUid);
    if (!sender)
        return std::string("the job's authentication is not a user id: refused");
    if (*sender != user.uid)
        return std::string(
            "the job names another user than the one who sent it: a job is handed "
            "only to the user who printed it");
    if (user.uid < uidMin || user.uid > uidMax)
        return "the job's user is not a login account (login accounts have user ids " +
               std::to_string(uidMin) + " to " + std::to_string(uidMax) +
               "): the Miravo printer serves login accounts only";
    return std::nullopt;
}

}  // namespace miravo::backend
