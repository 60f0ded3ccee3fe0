#include "server/Connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace miravo::server {

namespace {

constexpr std::size_t kMaxChunk = 1 << 20;

Connection::Step stepOf(SSL* ssl, int result) {
    switch (SSL_get_error(ssl, result)) {
        case SSL_ERROR_WANT_READ:
            return Connection::Step::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Connection::Step::WantWrite;
        default:
            return Connection::Step::Closed;
    }
}

// The step after a failed plain socket call.
Connection::Step socketStep(Connection::Step wouldBlock) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? wouldBlock
                                                                      : Connection::Step::Closed;
}

}  // namespace

Connection::Connection(int fd, SSL_CTX* context, std::string peerAddress, int peerPort)
    : fd_(fd), plain_(context == nullptr), peerAddress_(std::move(peerAddress)),
      peerPort_(peerPort) {
    if (plain_)
        return;
    ssl_ = SSL_new(context);
    if (ssl_ && SSL_set_fd(ssl_, fd_) != 1) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ssl_)
        SSL_set_accept_state(ssl_);
}

Connection::~Connection() {
    if (ssl_) {
        // A polite close_notify when it can go out at once; never waits.
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
    }
    ::close(fd_);
}

Connection::Step Connection::handshake() {
    if (plain_)
        return Step::Done;
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    return r == 1 ? Step::Done : stepOf(ssl_, r);
}

std::size_t Connection::readSome(char* data, std::size_t size, Step& step, bool& ended) {
    size = std::min(size, kMaxChunk);
    ended = false;
    if (plain_) {
        const ssize_t r = ::recv(fd_, data, size, 0);
        if (r > 0)
            return static_cast<std::size_t>(r);
        ended = r == 0;
        step = r == 0 ? Step::Closed : socketStep(Step::WantRead);
        return 0;
    }
    ERR_clear_error();
    const int r = SSL_read(ssl_, data, static_cast<int>(size));
    if (r > 0)
        return static_cast<std::size_t>(r);
    step = stepOf(ssl_, r);
    ended = SSL_get_error(ssl_, r) == SSL_ERROR_ZERO_RETURN;
    return 0;
}

std::size_t Connection::writeSome(std::string_view data, Step& step) {
    const std::size_t size = std::min(data.size(), kMaxChunk);
    if (plain_) {
        const ssize_t r = ::send(fd_, data.data(), size, MSG_NOSIGNAL);
        if (r > 0)
            return static_cast<std::size_t>(r);
        step = socketStep(Step::WantWrite);
        return 0;
    }
    ERR_clear_error();
    const int r = SSL_write(ssl_, data.data(), static_cast<int>(size));
    if (r > 0)
        return static_cast<std::size_t>(r);
    step = stepOf(ssl_, r);
    return 0;
}

Connection::Step Connection::readAvailable(std::size_t limit) {
    if (received.size() >= limit)
        return Step::Done;
    char buffer[16384];
    Step step = Step::Done;
    bool ended = false;
    const std::size_t n =
        readSome(buffer, std::min(sizeof buffer, limit - received.size()), step, ended);
    if (n == 0)
        return step;
    received.append(buffer, n);
    return Step::Done;
}

bool Connection::wait(Step want, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd p{fd_, static_cast<short>(want == Step::WantWrite ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    return r > 0 || (r < 0 && errno == EINTR);
}

long Connection::read(char* data, std::size_t size, Clock::time_point deadline) {
    if (!received.empty()) {
        const std::size_t n = std::min(size, received.size());
        std::memcpy(data, received.data(), n);
        received.erase(0, n);
        return static_cast<long>(n);
    }
    for (;;) {
        Step step = Step::Done;
        bool ended = false;
        if (const std::size_t n = readSome(data, size, step, ended); n > 0)
            return static_cast<long>(n);
        if (step == Step::Closed)
            return ended ? 0 : -1;
        if (!wait(step, deadline))
            return -1;
    }
}

bool Connection::writeAll(std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        Step step = Step::Done;
        if (const std::size_t n = writeSome(data, step); n > 0) {
            data.remove_prefix(n);
            continue;
        }
        if (step == Step::Closed || !wait(step, deadline))
            return false;
    }
    return true;
}

void Connection::drop() {
    ::shutdown(fd_, SHUT_RDWR);
    if (ssl_)
        SSL_set_quiet_shutdown(ssl_, 1);
}

}  // namespace miravo::server
