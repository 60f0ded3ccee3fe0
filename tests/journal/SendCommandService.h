// What the journal's miravo-send tests share: a local fax service with the
// demo account, journal and settings folders of the test's own, a settings
// file that points miravo-send at the service, and a one-page fax document
// ("letter.tif").
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/TestSupport.h"
#include "tests/server/ServerHarness.h"

namespace miravo::test {

// Starts the service (destinations final after `deliveryMs`) and writes
// "settings.ini" and "letter.tif" into `dir`; null when it did not start.
inline std::unique_ptr<server::test::ServerProcess> StartServiceForSendCommand(
    const std::filesystem::path& dir, const std::string& deliveryMs) {
    auto server = std::make_unique<server::test::ServerProcess>(std::vector<std::string>{
        "--quiet", "--version-port", "-1", "--min-poll-interval", "0", "--delivery-time",
        deliveryMs});
    if (!server->start())
        return nullptr;
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    writeBytes(dir / "settings.ini",
               "[OPTIONS]\nSERV_NAME=127.0.0.1:" + std::to_string(server->port()) +
                   "\nCA_FILE=" + server->caFile().string() +
                   "\nUSER_NAME=demo@miravo.test\nUSER_PASS=demo\nSAVE_PASS=1"
                   "\nTIMEOUT=1000\n");
    writeBytes(dir / "letter.tif", server::test::faxDocument());
    return server;
}

}  // namespace miravo::test
