// The service on the network: the HTTPS API and the plain-HTTP version page.
// The API's connections are kept by a ConnectionManager; for each request
// head it hands over, this reads the body (the leading fields first, so a
// request with refused credentials is answered before its document is taken
// in; a large body goes to a spool file), applies the size limits and the
// run's faults, hands the form to the Service and sends its answer back.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server/ConnectionManager.h"
#include "server/Faults.h"
#include "server/Multipart.h"
#include "server/Options.h"
#include "server/RequestLog.h"
#include "server/Service.h"

namespace miravo::server {

// A page served beside the API on its port (say, a form in a browser).
struct PageAnswer {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // e.g. Location
};
// Gets the request head and its body (at most 3 × --max-field + 16 KiB).
using PageHandler = std::function<PageAnswer(const RequestHead&, std::string_view body)>;

class HttpFront {
  public:
    HttpFront(const Options& options, Service& service, FaultPlan& faults, RequestLog& log);
    ~HttpFront();

    // Serves METHOD PATH with the handler; to be called before start().
    void addPage(std::string method, std::string path, PageHandler handler);

    // Loads the certificate and takes the port; false with a reason.
    bool start(std::string& error);
    int port() const { return port_; }
    // Serves until stop(); false when the port could not be taken again
    // after refusing connections.
    bool run();
    void stop();

  private:
    bool answer(Connection& connection, const RequestHead& head);
    bool answerPage(Connection& connection, const RequestHead& head, const PageHandler& page,
                    std::size_t declared, const std::string& logPrefix);
    bool holdPort();
    void sleepMs(long ms);

    const Options& options_;
    Service& service_;
    FaultPlan& faults_;
    RequestLog& log_;
    FormLimits limits_;
    std::map<std::pair<std::string, std::string>, PageHandler> pages_;
    SSL_CTX* context_ = nullptr;
    std::unique_ptr<ConnectionManager> connections_;
    int port_ = -1;
    int listenSocket_ = -1;
    int holdSocket_ = -1;
    std::atomic<int> refuseSeconds_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

// GET /miravoprinter/version.php → "<newest version> <download address>",
// over plain HTTP, its connections kept by a ConnectionManager of its own
// under the API's limits (head deadline, idle time-out, connection cap).
class VersionPage {
  public:
    explicit VersionPage(const Options& options);
    ~VersionPage();
    bool start(std::string& error);
    int port() const { return port_; }
    void stop();

  private:
    bool answer(Connection& connection, const RequestHead& head);

    const Options& options_;
    const std::string text_;
    std::unique_ptr<ConnectionManager> connections_;
    std::thread thread_;
    int listenSocket_ = -1;
    int port_ = -1;
};

}  // namespace miravo::server
