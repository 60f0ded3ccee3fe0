// The user's session bus and Miravo's name on it: the backend hands a job
// to the user's session by asking, through that bus, the program that owns
// the name to open the job file. The bus starts the program when nobody
// owns the name (activation), in the session's own environment and, with
// systemd, in the user's own service manager: never as a child of the
// print service.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace miravo::backend {

inline constexpr const char* kMiravoBusName = "org.miravo.Miravo";
inline constexpr const char* kMiravoObjectPath = "/org/miravo/Miravo";
// How long the call that hands a job over may take.
inline constexpr int kOpenCallMilliseconds = 30000;

// The socket of the session bus of `uid`: "<runtimeRoot>/<uid>/bus", when
// that folder and that socket exist, belong to `uid` (seen without
// following links) and the folder is not open to others. None otherwise,
// with the reason: the user has no login session then.
std::optional<std::filesystem::path> UserBusSocket(uid_t uid,
                                                   const std::filesystem::path& runtimeRoot,
                                                   std::string& reason);

// "file://" and the absolute `path`, every byte but letters, digits and
// "-._~/" percent-encoded.
std::string FileUri(const std::filesystem::path& path);

// The most documents one print job may hold: they are handed over in one
// call and become one fax, which the program takes up to this many
// documents at once.
inline constexpr std::size_t kMaxDocumentsPerJob = 16;

// Calls org.freedesktop.Application.Open on kMiravoBusName with the files'
// URIs, in order, in one call over the bus at `socket`: the documents of
// one job make one fax. True only when the call was answered without an
// error; otherwise false with the bus's reason.
bool OpenOnSessionBus(const std::filesystem::path& socket,
                      const std::vector<std::filesystem::path>& files, std::string& error);

}  // namespace miravo::backend
