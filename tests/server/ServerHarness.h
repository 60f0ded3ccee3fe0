// Running miravo-server for a test: a fresh data folder, any free loopback
// port, stopped with SIGTERM at the end. Requests go out through the
// project's own transport; a small raw HTTPS client (libcurl) remains for
// bodies the transport refuses to build (malformed ones) and the version page.
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/AppSettings.h"
#include "service/Transport.h"
#include "tests/TestSupport.h"

namespace miravo::server::test {

inline const std::string kDemoLogin = "demo@miravo.test";
inline const std::string kDemoPassword = "demo";

std::filesystem::path serverProgram();

class ServerProcess {
  public:
    explicit ServerProcess(std::vector<std::string> args = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts with --data, --port 0, --version-port 0, --demo and the given
    // arguments; waits for the address it prints.
    bool start();
    // SIGTERM; the exit status (-1 when it did not end by itself in time).
    int stop();
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }

    int port() const { return port_; }
    int versionPort() const { return versionPort_; }
    const std::filesystem::path& dataDir() const { return data_.path(); }
    std::filesystem::path caFile() const { return data_.path() / "ca.pem"; }
    std::string url() const;
    std::string output();
    // Runs "miravo-server <args> --data DIR" to completion; its exit status.
    int command(const std::vector<std::string>& args) const;

  private:
    miravo::test::TempDir data_;
    std::vector<std::string> args_;
    int pid_ = -1;
    int port_ = -1;
    int versionPort_ = -1;
    int outFd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

// The project's transport pointed at a running server.
AppSettings transportSettings(const ServerProcess& server);

// An exchange through the project's transport, and how long it took.
struct Reply {
    Outcome outcome = Outcome::Failed;
    long status = 0;
    std::string body;
    std::string error;
    double seconds = 0;
};

// Sends the fields as the program does: the fax exchange (FaxForm, values
// taken as wire bytes, "coverpage" as the cover part) for authentication,
// get_fax_status and convert_and_transfer; the text exchange (MultipartForm,
// UTF-8 values) for anything else. A field the form would leave out fails
// the test.
Reply viaTransport(const AppSettings& settings, const Fields& fields);
// The fax exchange with a document: the fields, then the document streamed
// from a file.
Reply uploadFax(const AppSettings& settings, const Fields& fields, const std::string& document);

// One part of the client's format: delimiter, disposition, empty line, value, CR LF.
std::string part(const std::string& name, const std::string& value);
// A text exchange body: parts, no closing delimiter.
std::string form(const std::vector<std::pair<std::string, std::string>>& fields);
// An upload body: parts, the file part header, the file, the closing delimiter.
std::string upload(const std::vector<std::pair<std::string, std::string>>& fields,
                   const std::string& file);

inline constexpr const char* kFormType = "multipart/form-data; boundary=--AaB03x";

struct RawReply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

class HttpsClient {
  public:
    explicit HttpsClient(const std::filesystem::path& caFile, long timeoutSeconds = 60);
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;
    RawReply post(const std::string& url, const std::string& body,
                  const std::string& contentType = kFormType);
    RawReply get(const std::string& url);

  private:
    CURL* curl_;
    std::string ca_;
    long timeout_;
};

// Values of an answer by element path below the document, e.g.
// "API_RESULT/TRANSFER/FAX_ID"; empty when absent or not XML.
std::string xmlValue(const std::string& answer, const std::string& path, std::size_t index = 0);
std::size_t xmlCount(const std::string& answer, const std::string& path);

// A one-page fax document (1728 × 2292, Group 3) with a black box on it.
std::string faxDocument();

}  // namespace miravo::server::test
