// One accepted connection on a non-blocking socket: TLS, or plain when no
// TLS context is given (the version page). The connection manager drives it
// step by step (handshake, reading a request head); a worker then uses the
// waiting calls, each bounded by a deadline, to read the body and write the
// answer.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace miravo::server {

using Clock = std::chrono::steady_clock;

class Connection {
  public:
    enum class Step { Done, WantRead, WantWrite, Closed };

    // Takes ownership of the socket; context null: plain, no TLS.
    Connection(int fd, SSL_CTX* context, std::string peerAddress, int peerPort);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool valid() const { return plain_ || ssl_ != nullptr; }
    int fd() const { return fd_; }
    const std::string& peerAddress() const { return peerAddress_; }
    int peerPort() const { return peerPort_; }

    // One non-blocking step of the handshake (none when plain).
    Step handshake();
    // Appends what can be read without waiting, at most `limit` bytes in all
    // in `received`. Done when something was read.
    Step readAvailable(std::size_t limit);
    // Bytes received but not yet consumed.
    bool hasBuffered() const { return !received.empty() || (ssl_ && SSL_pending(ssl_) > 0); }

    // Waiting calls. read: the bytes already received first, then the
    // socket; > 0 bytes, 0 at the end of the stream, -1 on failure or when
    // the deadline passed.
    long read(char* data, std::size_t size, Clock::time_point deadline);
    bool writeAll(std::string_view data, Clock::time_point deadline);
    // Ends the connection at once without a word (no close_notify).
    void drop();

    // Bytes received beyond what was consumed so far.
    std::string received;

  private:
    // One read or write without waiting: the bytes moved, or 0 with the
    // step to wait for (`ended`: the peer closed the stream in order).
    std::size_t readSome(char* data, std::size_t size, Step& step, bool& ended);
    std::size_t writeSome(std::string_view data, Step& step);
    bool wait(Step want, Clock::time_point deadline);

    int fd_;
    bool plain_;
    SSL* ssl_ = nullptr;
    std::string peerAddress_;
    int peerPort_;
};

}  // namespace miravo::server
