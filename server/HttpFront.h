// The service on the network: the HTTPS API (cpp-httplib with OpenSSL) and
// the plain-HTTP version page. Reads each request's body whole, applies the
// size limits and the run's faults, hands the form to the Service and sends
// its answer back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/Faults.h"
#include "server/Multipart.h"
#include "server/Options.h"
#include "server/RequestLog.h"
#include "server/Service.h"

namespace httplib {
class Server;
class SSLServer;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace miravo::server {

class HttpFront {
  public:
    HttpFront(const Options& options, Service& service, FaultPlan& faults, RequestLog& log);
    ~HttpFront();

    // Binds the port (holding it closed instead when the run starts with
    // refused connections). After it, port() is the real port.
    bool start(std::string& error);
    int port() const { return port_; }
    // Serves until stop(); false when the port could not be taken again
    // after a refusal.
    bool run();
    void stop();

  private:
    std::unique_ptr<httplib::SSLServer> makeServer();
    void handle(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader);
    bool holdPort();
    void sleepMs(long ms);

    const Options& options_;
    Service& service_;
    FaultPlan& faults_;
    RequestLog& log_;
    FormLimits limits_;
    int port_ = -1;
    int holdSocket_ = -1;
    std::atomic<int> refuseSeconds_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<httplib::SSLServer> server_;
    bool bound_ = false;
};

// GET /miravoprinter/version.php → "<newest version> <download address>".
class VersionPage {
  public:
    explicit VersionPage(const Options& options);
    ~VersionPage();
    bool start(std::string& error);
    int port() const { return port_; }
    void stop();

  private:
    const Options& options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = -1;
};

}  // namespace miravo::server
