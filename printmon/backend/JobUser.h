// The account a print job belongs to, and becoming it. The backend is run
// as root only so that it can act for that account: every step that reads
// the document or writes a file happens after BecomeUser.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace miravo::backend {

struct JobUser {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

// The account named by the print job. None, with the reason in `error`,
// for a name that is empty, too long, holds a '/', a control character or
// begins with '.' or '-', for an unknown account, and for any account with
// user id 0: documents are never handled with root's rights.
std::optional<JobUser> LookUpJobUser(std::string_view name, std::string& error);

// Takes on the account's supplementary groups, group and user id, for
// good. False, with the reason, when any step fails or root's rights
// could be taken back afterwards.
bool BecomeUser(const JobUser& user, std::string& error);

}  // namespace miravo::backend
