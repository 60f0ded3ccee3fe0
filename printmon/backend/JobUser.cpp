#include "printmon/backend/JobUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace miravo::backend {

namespace {

constexpr std::size_t kMaxUserName = 256;

bool plausibleName(std::string_view name) {
    if (name.empty() || name.size() > kMaxUserName || name.front() == '.' || name.front() == '-')
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/')
            return false;
    }
    return true;
}

}  // namespace

std::optional<JobUser> LookUpJobUser(std::string_view name, std::string& error) {
    if (!plausibleName(name)) {
        error = "the job's user name is not a valid account name";
        return std::nullopt;
    }
    const std::string wanted(name);
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    const int code = ::getpwnam_r(wanted.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (code != 0 || !found) {
        error = "the job's user does not exist on this system";
        return std::nullopt;
    }
    if (found->pw_uid == 0) {
        error = "the job's user has root's rights: such jobs are not handled";
        return std::nullopt;
    }
    return JobUser{wanted, found->pw_uid, found->pw_gid, found->pw_dir ? found->pw_dir : ""};
}

bool BecomeUser(const JobUser& user, std::string& error) {
    const auto failed = [&](const char* step) {
        error = std::string(step) + " of the job's user failed: " + std::strerror(errno);
        return false;
    };
    if (::initgroups(user.name.c_str(), user.gid) != 0)
        return failed("taking on the groups");
    if (::setresgid(user.gid, user.gid, user.gid) != 0)
        return failed("taking on the group id");
    if (::setresuid(user.uid, user.uid, user.uid) != 0)
        return failed("taking on the user id");
    if (::setuid(0) == 0 || ::getuid() != user.uid || ::geteuid() != user.uid) {
        error = "root's rights could not be given up";
        return false;
    }
    return true;
}

}  // namespace miravo::backend
