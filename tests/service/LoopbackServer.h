// A small HTTP(S) server on 127.0.0.1 for the service tests and the upload
// benchmark: it records every request byte for byte (request line, header
// lines, body) and answers with whatever the test's responder returns.
// One request per connection; the answer closes the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace miravo::test {

// A throwaway certificate authority and a server certificate it signed,
// made with OpenSSL at run time (EC P-256, SHA-256), all as PEM text.
struct TestCertificates {
    std::string caPem;
    std::string serverCertPem;
    std::string serverKeyPem;

    // `names` go into the subject alternative names ("DNS:localhost",
    // "IP:127.0.0.1"); validity runs from now + notBefore to now + notAfter
    // seconds.
    static TestCertificates make(const std::vector<std::string>& names,
                                 long notBeforeSeconds = -3600, long notAfterSeconds = 86400);
};

struct RecordedRequest {
    std::string head;  // request line and header lines, through the empty line
    std::string body;  // empty when the server keeps no bodies
    std::uint64_t bodyBytes = 0;

    std::string requestLine() const;
    // The header lines in order, each without its CR LF.
    std::vector<std::string> headerLines() const;
    // The value of the first header of that name (case-insensitive), or "".
    std::string header(const std::string& name) const;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedLoopbackPort();

class LoopbackServer {
  public:
    // Raw HTTP answer for a request; an empty string closes the connection
    // without answering.
    using Responder = std::function<std::string(const RecordedRequest&)>;
    // Writes an answer piece by piece through `send`, which returns false
    // once the client has gone or the server stops.
    using Send = std::function<bool(const std::string&)>;
    using Streamer = std::function<void(const RecordedRequest&, const Send& send)>;

    // TLS with the given certificates, or plain HTTP when `certificates` is null.
    explicit LoopbackServer(const TestCertificates* certificates);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    void setResponder(Responder responder);
    // Answers through `streamer` instead of the responder (empty: the responder again).
    void setStreamer(Streamer streamer);
    // Closes the connection without an answer once this many body bytes
    // have arrived (0: read whole requests).
    void dropAfterBodyBytes(std::uint64_t bytes) { dropAfter_ = bytes; }
    // Benchmark mode: bodies are counted, not kept.
    void keepBodies(bool keep) { keepBodies_ = keep; }
    std::vector<RecordedRequest> requests() const;
    // Connections whose TLS handshake failed.
    int failedHandshakes() const { return failedHandshakes_; }

    static std::string httpAnswer(int status, const std::string& body,
                                  const std::string& contentType = "text/xml");

  private:
    void run();
    void serve(int client);

    void* context_ = nullptr;  // SSL_CTX, null for plain HTTP
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> keepBodies_{true};
    std::atomic<int> failedHandshakes_{0};
    mutable std::mutex mutex_;
    Responder responder_;
    Streamer streamer_;
    std::atomic<std::uint64_t> dropAfter_{0};
    std::vector<RecordedRequest> requests_;
    std::thread thread_;
};

// Clears the proxy variables so that tests talk to 127.0.0.1 directly.
void ClearProxyEnvironment();

}  // namespace miravo::test
