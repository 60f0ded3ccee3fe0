#include "server/HttpFront.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <ctime>

#include "server/BodySpool.h"
#include "server/Certificates.h"
#include "server/HeaderText.h"
#include "server/SignupPage.h"

namespace miravo::server {

namespace {

using namespace std::chrono_literals;

// A body must arrive whole within this time, and an answer be taken in.
constexpr auto kBodyDeadline = 60s;
constexpr auto kWriteDeadline = 30s;
// After refusing a request early, what is still coming is read and thrown
// away for at most this long, so the client gets to read the answer instead
// of a reset connection.
constexpr auto kDrainTime = 2s;

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

// For the log line: printable, short.
std::string logField(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, 80))
        out.push_back(c > ' ' && c < 0x7f ? static_cast<char>(c) : '?');
    return out.empty() ? "-" : out;
}

// Exclusive: no SO_REUSEPORT, so a second server on the port fails to start
// instead of sharing it. SO_REUSEADDR only lets a restart take the port
// while old connections linger in TIME_WAIT.
int bindRaw(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

int boundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

int listenOn(const std::string& host, int port) {
    const int fd = bindRaw(host, port);
    if (fd >= 0 && ::listen(fd, 512) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

SSL_CTX* makeContext(const std::filesystem::path& dataDir) {
    const CertificateFiles files = certificateFiles(dataDir);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Renegotiation would let a client restart the handshake at will.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    if (SSL_CTX_use_certificate_chain_file(context, files.serverCert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, files.serverKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

const char* statusText(int status) {
    switch (status) {
        case 200:
            return "200 OK";
        case 303:
            return "303 See Other";
        case 400:
            return "400 Bad Request";
        case 403:
            return "403 Forbidden";
        case 404:
            return "404 Not Found";
        case 409:
            return "409 Conflict";
        case 411:
            return "411 Length Required";
        case 422:
            return "422 Unprocessable Content";
        case 429:
            return "429 Too Many Requests";
        default:
            return "500 Internal Server Error";
    }
}

bool sendAnswer(Connection& c, int status, std::string_view body, std::string_view type,
                bool close, const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    std::string out = std::string("HTTP/1.1 ") + statusText(status) + "\r\n";
    for (const auto& [name, value] : extra) {
        // A handler's header never carries a line break into the answer.
        if (name.find_first_of("\r\n:") == std::string::npos &&
            value.find_first_of("\r\n") == std::string::npos)
            out += name + ": " + value + "\r\n";
    }
    if (!type.empty())
        out += "Content-Type: " + std::string(type) + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    // One write: head and body leave together.
    out.append(body);
    return c.writeAll(out, Clock::now() + kWriteDeadline);
}

// Reads `size` bytes, giving each chunk to `take`; false when the client
// stops sending, the deadline passes or `take` refuses.
template <typename Take>
bool receive(Connection& c, std::size_t size, Clock::time_point deadline, Take take) {
    char buffer[64 * 1024];
    while (size > 0) {
        const long n = c.read(buffer, std::min(size, sizeof buffer), deadline);
        if (n <= 0)
            return false;
        if (!take(std::string_view(buffer, static_cast<std::size_t>(n))))
            return false;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

HttpFront::HttpFront(const Options& options, Service& service, FaultPlan& faults, RequestLog& log)
    : options_(options), service_(service), faults_(faults), log_(log) {
    limits_.maxParts = options.maxParts;
    limits_.maxFieldBytes = options.maxFieldBytes;
    limits_.filesByReference = true;
    AddSignupPage(*this, options_);
}

HttpFront::~HttpFront() {
    stop();
    connections_.reset();
    for (int fd : {holdSocket_, listenSocket_}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (context_)
        SSL_CTX_free(context_);
}

bool HttpFront::start(std::string& error) {
    context_ = makeContext(options_.dataDir);
    if (!context_) {
        error = "cannot load the server certificate";
        return false;
    }
    FrontLimits limits = options_.front;
    limits.workers = static_cast<std::size_t>(options_.threads);
    connections_ = std::make_unique<ConnectionManager>(
        limits, context_,
        [this](Connection& c, const RequestHead& head) { return answer(c, head); });

    if (faults_.refuseAtStart() > 0) {
        holdSocket_ = bindRaw(options_.host, options_.port);
        if (holdSocket_ < 0) {
            error = "cannot bind " + options_.host + ":" + std::to_string(options_.port);
            return false;
        }
        port_ = boundPort(holdSocket_);
        refuseSeconds_ = faults_.refuseAtStart();
        return true;
    }
    listenSocket_ = listenOn(options_.host, options_.port);
    if (listenSocket_ < 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                " (is another server using it?)";
        return false;
    }
    port_ = boundPort(listenSocket_);
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
        for (int attempt = 0; attempt < 50 && !stopping_ && listenSocket_ < 0; ++attempt) {
            listenSocket_ = listenOn(options_.host, port_);
            if (listenSocket_ < 0)
                sleepMs(100);
        }
        if (listenSocket_ < 0)
            return stopping_;
        connections_->serve(listenSocket_);
        ::close(listenSocket_);
        listenSocket_ = -1;
    }
    return true;
}

void HttpFront::stop() {
    stopping_ = true;
    wake_.notify_all();
    if (connections_)
        connections_->stop();
}

bool HttpFront::answer(Connection& c, const RequestHead& head) {
    const long number = log_.nextNumber();
    const auto started = std::chrono::steady_clock::now();
    const std::int64_t arrivedMs = nowMs();
    const std::string prefix = "#" + RequestLog::numberText(number) + " " + utcStamp() + " " +
                               c.peerAddress() + ":" + std::to_string(c.peerPort());
    bool close = head.version != "HTTP/1.1" || equalsNoCase(head.value("Connection"), "close");

    if (head.has("Transfer-Encoding")) {
        sendAnswer(c, 411, "", "", true);
        return false;
    }
    const std::string lengthText = head.value("Content-Length");
    std::size_t declared = 0;
    if (!lengthText.empty()) {
        auto [ptr, ec] =
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), declared);
        if (ec != std::errc() || ptr != lengthText.data() + lengthText.size())
            declared = options_.maxBodyBytes + 1;
    }
    const std::string path = head.target.substr(0, head.target.find('?'));
    if (head.method != "POST" || path != options_.objectPath) {
        auto page = pages_.find({head.method, path});
        if (page != pages_.end())
            return answerPage(c, head, page->second, declared, prefix);
        log_.line(prefix + " " + logField(head.method) + " " + logField(path) + " not found");
        sendAnswer(c, 404, "", "", true);
        return false;
    }

    // Answers a request refused before its body was all read, then throws
    // away what is still coming, for a short while.
    std::size_t taken = 0;
    // A client that waits for "100 Continue" sends nothing before it.
    const bool waitsToSend = equalsNoCase(head.value("Expect"), "100-continue");
    bool continued = false;
    auto refuseEarly = [&](const Answer& refusal, std::string_view received) {
        log_.record(number, head.text(), received);
        sendAnswer(c, 200, refusal.body, refusal.contentType, true);
        if (!waitsToSend || continued)
            receive(c, declared - taken, Clock::now() + kDrainTime,
                    [](std::string_view) { return true; });
        log_.line(prefix + " action=" + logField(refusal.action) + " user=" +
                  logField(refusal.user) + " error=" + std::to_string(refusal.error) + " in=" +
                  std::to_string(taken) + " of " + std::to_string(declared) + " refused early");
        return false;
    };
    if (declared > options_.maxBodyBytes)
        return refuseEarly(errorAnswer(err::kRequestTooLarge), {});

    if (waitsToSend && declared > 0) {
        if (!c.writeAll("HTTP/1.1 100 Continue\r\n\r\n", Clock::now() + kWriteDeadline))
            return false;
        continued = true;
    }

    const auto bodyDeadline = Clock::now() + kBodyDeadline;
    auto bodyLost = [&](std::string_view received) {
        log_.record(number, head.text(), received);
        log_.line(prefix + " body not received");
        return false;
    };
    // The leading fields (action, credentials) first: at most a few fields'
    // worth, which is all that a stranger's request costs in memory.
    const std::size_t window = 3 * options_.maxFieldBytes + 16 * 1024;
    std::string lead;
    lead.reserve(std::min(declared, window));
    if (!receive(c, std::min(declared, window), bodyDeadline, [&](std::string_view bytes) {
            lead.append(bytes);
            return true;
        }))
        return bodyLost(lead);
    taken = lead.size();

    const auto boundary = boundaryOf(head.value("Content-Type"));
    std::string_view body = lead;
    BodySpool spool;
    if (declared > lead.size()) {
        FormData leading;
        const FormError leadError =
            boundary ? parseLeadingParts(lead, *boundary, limits_, leading) : FormError::NoBoundary;
        if (leadError != FormError::None)
            return refuseEarly(Service::formError(leadError), lead);
        if (auto refusal = service_.screen(leading, arrivedMs, c.peerAddress()))
            return refuseEarly(*refusal, lead);
        if (!spool.open(options_.dataDir) || !spool.append(lead))
            return refuseEarly(errorAnswer(err::kStorageFailed), lead);
        bool stored = true;
        if (!receive(c, declared - lead.size(), bodyDeadline, [&](std::string_view bytes) {
                taken += bytes.size();
                stored = spool.append(bytes);
                return stored;
            })) {
            if (!stored)
                return refuseEarly(errorAnswer(err::kStorageFailed), lead);
            return bodyLost(lead);
        }
        if (!spool.map())
            return refuseEarly(errorAnswer(err::kStorageFailed), lead);
        body = spool.view();
        lead = std::string();
    }
    log_.record(number, head.text(), body);

    Answer answer;
    FormData form;
    const FormError formError =
        boundary ? parseForm(body, *boundary, limits_, form) : FormError::NoBoundary;
    const std::string action = formError == FormError::None ? form.value("action") : "";
    // Faults apply to requests with accepted credentials only: nobody else
    // can set them off or use them up.
    std::optional<Answer> refusal;
    if (formError == FormError::None)
        refusal = service_.screen(form, arrivedMs, c.peerAddress());
    const bool accepted = formError == FormError::None && !refusal;
    FaultDecision fault = accepted ? faults_.decide(action) : FaultDecision();
    if (fault.delayMs > 0)
        sleepMs(fault.delayMs);
    if (fault.outcome == FaultKind::Close) {
        // Drop the connection without a word: the client sees it end
        // before any answer.
        c.drop();
        log_.line(prefix + " action=" + logField(action) + " fault=" + fault.text() + " closed");
        return false;
    }
    if (fault.outcome == FaultKind::Error) {
        answer = errorAnswer(fault.errorCode, action, sectionOf(action));
        answer.action = action;
    } else if (fault.outcome == FaultKind::Empty) {
        answer.action = action;
    } else if (formError != FormError::None) {
        answer = Service::formError(formError);
    } else if (refusal) {
        answer = std::move(*refusal);
    } else {
        answer = service_.handle(form, arrivedMs, c.peerAddress());
    }
    if (fault.outcome == FaultKind::Truncate)
        answer.body.resize(answer.body.size() / 2);
    if (fault.outcome == FaultKind::Empty)
        answer.body.clear();
    const bool sent = sendAnswer(c, 200, answer.body, answer.contentType, close);

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    log_.line(prefix + " action=" + logField(answer.action) + " user=" + logField(answer.user) +
              " error=" + std::to_string(answer.error) + " in=" + std::to_string(body.size()) +
              " out=" + std::to_string(answer.body.size()) + " ms=" + std::to_string(ms) +
              " fault=" + fault.text());

    if (const int seconds = accepted ? faults_.refuseAfter(action) : 0; seconds > 0) {
        refuseSeconds_ = seconds;
        connections_->pause();
        return false;
    }
    return sent && !close;
}

void HttpFront::addPage(std::string method, std::string path, PageHandler handler) {
    pages_[{std::move(method), std::move(path)}] = std::move(handler);
}

bool HttpFront::answerPage(Connection& c, const RequestHead& head, const PageHandler& page,
                           std::size_t declared, const std::string& logPrefix) {
    std::string body;
    if (declared > 3 * options_.maxFieldBytes + 16 * 1024 ||
        !receive(c, declared, Clock::now() + kBodyDeadline, [&](std::string_view bytes) {
            body.append(bytes);
            return true;
        })) {
        sendAnswer(c, 400, "", "", true);
        return false;
    }
    const PageAnswer answer = page(head, body);
    const bool close = head.version != "HTTP/1.1" || equalsNoCase(head.value("Connection"), "close");
    log_.line(logPrefix + " " + logField(head.method) + " " + logField(head.target) + " " +
              std::to_string(answer.status));
    return sendAnswer(c, answer.status, answer.body, answer.contentType, close, answer.headers) &&
           !close;
}

VersionPage::VersionPage(const Options& options)
    : options_(options), text_(options.newestVersion + " " + options.downloadUrl) {}

VersionPage::~VersionPage() {
    stop();
    if (listenSocket_ >= 0)
        ::close(listenSocket_);
}

bool VersionPage::start(std::string& error) {
    listenSocket_ = listenOn(options_.host, options_.versionPort);
    if (listenSocket_ < 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.versionPort);
        return false;
    }
    port_ = boundPort(listenSocket_);
    // Each answer is a few bytes written at once: a few workers will do.
    FrontLimits limits = options_.front;
    limits.workers = 4;
    connections_ = std::make_unique<ConnectionManager>(
        limits, nullptr, [this](Connection& c, const RequestHead& head) { return answer(c, head); });
    thread_ = std::thread([this] { connections_->serve(listenSocket_); });
    return true;
}

bool VersionPage::answer(Connection& c, const RequestHead& head) {
    const std::string path = head.target.substr(0, head.target.find('?'));
    // A request with a body is answered, then the connection ends: the
    // body is not read.
    const bool close = head.version != "HTTP/1.1" ||
                       equalsNoCase(head.value("Connection"), "close") ||
                       head.has("Content-Length") || head.has("Transfer-Encoding");
    if (head.method != "GET" || path != "/miravoprinter/version.php") {
        sendAnswer(c, 404, "", "", true);
        return false;
    }
    return sendAnswer(c, 200, text_, "text/plain", close) && !close;
}

void VersionPage::stop() {
    if (connections_)
        connections_->stop();
    if (thread_.joinable())
        thread_.join();
}

}  // namespace miravo::server
