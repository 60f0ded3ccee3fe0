// Whether the backend may act for a job's user at all. The print system
// fills in the job's user name from what the client claims; only the user
// id it took from the client's own connection (AUTH_UID, set when the
// queue's operation policy makes jobs authenticate) says who sent it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "printmon/backend/JobUser.h"

namespace miravo::backend {

// The lowest user id of login accounts: UID_MIN of `loginDefs`, 1000 when
// the file or the setting is missing or unreadable.
uid_t LoginUidMin(const std::filesystem::path& loginDefs = "/etc/login.defs");
// The highest: UID_MAX, 60000 when missing or unreadable.
uid_t LoginUidMax(const std::filesystem::path& loginDefs = "/etc/login.defs");

// Why the job must be refused, or nothing when it may go on: `authUid` is
// the AUTH_UID the print system passed (null when it passed none); it must
// be a plain decimal user id, the job user's own, and the account must be
// a login account (`uidMin` <= uid <= `uidMax`; nobody, 65534, is none).
std::optional<std::string> JobRefusal(const JobUser& user, const char* authUid, uid_t uidMin,
                                      uid_t uidMax);

}  // namespace miravo::backend
