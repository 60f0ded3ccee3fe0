// The command line of miravo-server.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "server/ConnectionManager.h"
#include "server/Service.h"

namespace miravo::server {

enum class Command { Serve, UserAdd, UserDisable, ContactAdd, Help, Version };

struct Options {
    Command command = Command::Serve;
    std::filesystem::path dataDir;
    std::string host = "127.0.0.1";
    int port = 8443;         // 0: any free port
    int versionPort = 8080;  // 0: any free port, -1: no version page
    std::string objectPath = "/api2/proxy.php";
    std::filesystem::path requestLogDir;
    bool demo = false;
    bool quiet = false;
    int threads = 64;
    std::size_t maxBodyBytes = 32 * 1024 * 1024;
    std::size_t maxFieldBytes = 64 * 1024;
    std::size_t maxParts = 5000;
    std::string newestVersion = "3.0.1";
    std::string downloadUrl = "https://127.0.0.1:8443/download";
    std::vector<std::string> faults;
    std::filesystem::path faultPlan;
    ServiceConfig service;
    FrontLimits front;  // deadlines and limits of the connections

    // user add / user disable / contact add
    std::string user, password;
    double credit = 100.0;
    std::string contactName, contactNumber, contactGsm, contactGroup;
};

// Reads argv; false with a message when it cannot be used.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

const char* usageText();

}  // namespace miravo::server
