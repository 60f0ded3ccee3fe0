#include "server/HttpFront.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <ctime>

#include "server/Certificates.h"
#include "server/SignupPage.h"

namespace miravo::server {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string utcStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return buffer;
}

// httplib reads a multipart body with its own parser, which wants a closing
// delimiter the client's text exchanges never send. The API therefore hides
// the Content-Type from it before routing (kept under this name) and reads
// the raw body itself.
constexpr const char* kReceivedContentType = "X-Miravo-Received-Content-Type";

std::string receivedContentType(const httplib::Request& req) {
    return req.has_header(kReceivedContentType) ? req.get_header_value(kReceivedContentType)
                                                : req.get_header_value("Content-Type");
}

// The request line and headers as they came (httplib adds a few of its own
// for the peer's address; those are left out). Headers are in name order.
std::string headerText(const httplib::Request& req) {
    std::string text = req.method + " " + req.target + " " + req.version + "\r\n";
    for (const auto& [name, value] : req.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT" || name == kReceivedContentType)
            continue;
        if (name == "Content-Type" && req.has_header(kReceivedContentType))
            text += name + ": " + req.get_header_value(kReceivedContentType) + "\r\n";
        else
            text += name + ": " + value + "\r\n";
    }
    return text;
}

// For the log line: printable, short.
std::string logField(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, 80))
        out.push_back(c > ' ' && c < 0x7f ? static_cast<char>(c) : '?');
    return out.empty() ? "-" : out;
}

int bindRaw(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

HttpFront::HttpFront(const Options& options, Service& service, FaultPlan& faults, RequestLog& log)
    : options_(options), service_(service), faults_(faults), log_(log) {
    limits_.maxParts = options.maxParts;
    limits_.maxFieldBytes = options.maxFieldBytes;
}

HttpFront::~HttpFront() {
    if (holdSocket_ >= 0)
        ::close(holdSocket_);
}

std::unique_ptr<httplib::SSLServer> HttpFront::makeServer() {
    const CertificateFiles files = certificateFiles(options_.dataDir);
    auto server =
        std::make_unique<httplib::SSLServer>(files.serverCert.c_str(), files.serverKey.c_str());
    if (!server->is_valid())
        return nullptr;
    SSL_CTX_set_min_proto_version(server->ssl_context(), TLS1_2_VERSION);
    const std::size_t threads = static_cast<std::size_t>(options_.threads);
    // One thread per kept-alive connection: the pool must be larger than the
    // number of clients that keep their connection open.
    server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server->set_keep_alive_max_count(100000);
    server->set_keep_alive_timeout(5);
    server->set_read_timeout(30);
    server->set_write_timeout(30);
    server->set_payload_max_length(options_.maxBodyBytes + 1);
    server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        // The request object is httplib's own, not const: only the handler
        // signature is.
        auto& request = const_cast<httplib::Request&>(req);
        if (request.has_header("Content-Type")) {
            const std::string type = request.get_header_value("Content-Type");
            request.headers.erase("Content-Type");
            request.set_header("Content-Type", "application/octet-stream");
            request.set_header(kReceivedContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server->Post(options_.objectPath,
                 [this](const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) { handle(req, res, reader); });
    AddSignupPage(*server, options_);
    return server;
}

bool HttpFront::start(std::string& error) {
    if (faults_.refuseAtStart() > 0) {
        holdSocket_ = bindRaw(options_.host, options_.port);
        if (holdSocket_ < 0) {
            error = "cannot bind " + options_.host + ":" + std::to_string(options_.port);
            return false;
        }
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(holdSocket_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        refuseSeconds_ = faults_.refuseAtStart();
        return true;
    }
    server_ = makeServer();
    if (!server_) {
        error = "cannot load the server certificate";
        return false;
    }
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.host);
    } else {
        port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
        return false;
    }
    bound_ = true;
    return true;
}

void HttpFront::sleepMs(long ms) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

// Keeps the port bound but not listening: connection attempts are refused.
bool HttpFront::holdPort() {
    const int seconds = refuseSeconds_.exchange(0);
    if (holdSocket_ < 0)
        holdSocket_ = bindRaw(options_.host, port_);
    log_.line("refusing connections for " + std::to_string(seconds) + " s");
    sleepMs(seconds * 1000L);
    if (holdSocket_ >= 0) {
        ::close(holdSocket_);
        holdSocket_ = -1;
    }
    return true;
}

bool HttpFront::run() {
    while (!stopping_) {
        if (refuseSeconds_ > 0)
            holdPort();
        if (stopping_)
            break;
        if (!bound_) {
            auto server = makeServer();
            if (!server)
                return false;
            bool ok = false;
            for (int attempt = 0; attempt < 50 && !stopping_ && !ok; ++attempt) {
                ok = server->bind_to_port(options_.host, port_);
                if (!ok)
                    sleepMs(100);
            }
            if (!ok)
                return stopping_;
            std::lock_guard lock(mutex_);
            server_ = std::move(server);
            bound_ = true;
        }
        if (stopping_)
            break;
        server_->listen_after_bind();
        std::lock_guard lock(mutex_);
        bound_ = false;
        server_.reset();
    }
    return true;
}

void HttpFront::stop() {
    stopping_ = true;
    wake_.notify_all();
    // listen_after_bind() may not have begun yet: ask until it has ended.
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(mutex_);
            if (!server_)
                return;
            server_->stop();
            if (!bound_)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

void HttpFront::handle(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) {
    const long number = log_.nextNumber();
    const auto started = std::chrono::steady_clock::now();
    const std::int64_t arrivedMs = nowMs();

    std::string body;
    bool tooLarge = false;
    const std::string lengthText = req.get_header_value("Content-Length");
    std::size_t declared = 0;
    if (!lengthText.empty()) {
        auto [ptr, ec] =
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), declared);
        if (ec != std::errc() || ptr != lengthText.data() + lengthText.size())
            declared = options_.maxBodyBytes + 1;
    }
    if (declared > options_.maxBodyBytes) {
        tooLarge = true;
    } else {
        body.reserve(declared);
        const bool read = reader([&](const char* data, std::size_t size) {
            if (body.size() + size > options_.maxBodyBytes) {
                tooLarge = true;
                return false;
            }
            body.append(data, size);
            return true;
        });
        if (!read && !tooLarge) {
            log_.record(number, headerText(req), body);
            log_.line("#" + RequestLog::numberText(number) + " " + utcStamp() + " " +
                      req.remote_addr + ":" + std::to_string(req.remote_port) +
                      " body not received");
            res.status = 400;
            return;
        }
    }
    log_.record(number, headerText(req), body);

    Answer answer;
    FaultDecision fault;
    if (tooLarge) {
        answer = errorAnswer(err::kRequestTooLarge);
        res.set_header("Connection", "close");
    } else {
        FormData form;
        FormError formError = FormError::NoBoundary;
        if (auto boundary = boundaryOf(receivedContentType(req)))
            formError = parseForm(body, *boundary, limits_, form);
        const std::string action = formError == FormError::None ? form.value("action") : "";
        fault = faults_.decide(action);
        if (fault.delayMs > 0)
            sleepMs(fault.delayMs);
        if (fault.outcome == FaultKind::Close) {
            // Drop the connection without a word: the client sees it end
            // before any answer.
            if (req.ssl)
                ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
            log_.line("#" + RequestLog::numberText(number) + " " + utcStamp() + " " +
                      req.remote_addr + ":" + std::to_string(req.remote_port) +
                      " action=" + logField(action) + " fault=" + fault.text() + " closed");
            return;
        }
        if (fault.outcome == FaultKind::Error) {
            answer = errorAnswer(fault.errorCode, action, sectionOf(action));
            answer.action = action;
        } else if (fault.outcome == FaultKind::Empty) {
            answer.action = action;
        } else if (formError != FormError::None) {
            answer = Service::formError(formError);
        } else {
            answer = service_.handle(form, arrivedMs);
        }
        if (fault.outcome == FaultKind::Truncate)
            answer.body.resize(answer.body.size() / 2);
        if (fault.outcome == FaultKind::Empty)
            answer.body.clear();
    }
    res.status = 200;
    res.set_content(answer.body, answer.contentType.c_str());

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    log_.line("#" + RequestLog::numberText(number) + " " + utcStamp() + " " + req.remote_addr +
              ":" + std::to_string(req.remote_port) + " action=" + logField(answer.action) +
              " user=" + logField(answer.user) + " error=" + std::to_string(answer.error) +
              " in=" + std::to_string(body.size()) + " out=" + std::to_string(answer.body.size()) +
              " ms=" + std::to_string(ms) + " fault=" + fault.text());

    if (const int seconds = faults_.refuseAfter(number); seconds > 0) {
        refuseSeconds_ = seconds;
        std::lock_guard lock(mutex_);
        if (server_)
            server_->stop();
    }
}

VersionPage::VersionPage(const Options& options) : options_(options) {}

VersionPage::~VersionPage() {
    stop();
}

bool VersionPage::start(std::string& error) {
    server_ = std::make_unique<httplib::Server>();
    const std::string text = options_.newestVersion + " " + options_.downloadUrl;
    server_->Get("/miravoprinter/version.php",
                 [text](const httplib::Request&, httplib::Response& res) {
                     res.set_content(text, "text/plain");
                 });
    port_ = options_.versionPort == 0 ? server_->bind_to_any_port(options_.host)
            : server_->bind_to_port(options_.host, options_.versionPort) ? options_.versionPort
                                                                         : -1;
    if (port_ <= 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.versionPort);
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void VersionPage::stop() {
    if (server_) {
        for (int i = 0; i < 400 && thread_.joinable() && !server_->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server_->stop();
    }
    if (thread_.joinable())
        thread_.join();
}

}  // namespace miravo::server
