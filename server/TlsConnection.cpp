#include "server/TlsConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace miravo::server {

namespace {

TlsConnection::Step stepOf(SSL* ssl, int result) {
    switch (SSL_get_error(ssl, result)) {
        case SSL_ERROR_WANT_READ:
            return TlsConnection::Step::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return TlsConnection::Step::WantWrite;
        default:
            return TlsConnection::Step::Closed;
    }
}

}  // namespace

TlsConnection::TlsConnection(int fd, SSL_CTX* context, std::string peerAddress, int peerPort)
    : fd_(fd), peerAddress_(std::move(peerAddress)), peerPort_(peerPort) {
    ssl_ = SSL_new(context);
    if (ssl_ && SSL_set_fd(ssl_, fd_) != 1) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ssl_)
        SSL_set_accept_state(ssl_);
}

TlsConnection::~TlsConnection() {
    if (ssl_) {
        // A polite close_notify when it can go out at once; never waits.
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
    }
    ::close(fd_);
}

TlsConnection::Step TlsConnection::handshake() {
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    return r == 1 ? Step::Done : stepOf(ssl_, r);
}

TlsConnection::Step TlsConnection::readAvailable(std::size_t limit) {
    if (received.size() >= limit)
        return Step::Done;
    char buffer[16384];
    const std::size_t want = std::min(sizeof buffer, limit - received.size());
    ERR_clear_error();
    const int r = SSL_read(ssl_, buffer, static_cast<int>(want));
    if (r > 0) {
        received.append(buffer, static_cast<std::size_t>(r));
        return Step::Done;
    }
    return stepOf(ssl_, r);
}

bool TlsConnection::wait(Step want, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd p{fd_, static_cast<short>(want == Step::WantWrite ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    return r > 0 || (r < 0 && errno == EINTR);
}

long TlsConnection::read(char* data, std::size_t size, Clock::time_point deadline) {
    if (!received.empty()) {
        const std::size_t n = std::min(size, received.size());
        std::memcpy(data, received.data(), n);
        received.erase(0, n);
        return static_cast<long>(n);
    }
    for (;;) {
        ERR_clear_error();
        const int r = SSL_read(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
        if (r > 0)
            return r;
        const Step step = stepOf(ssl_, r);
        if (step == Step::Closed)
            return SSL_get_error(ssl_, r) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
        if (!wait(step, deadline))
            return -1;
    }
}

bool TlsConnection::writeAll(std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        ERR_clear_error();
        const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20));
        const int r = SSL_write(ssl_, data.data(), chunk);
        if (r > 0) {
            data.remove_prefix(static_cast<std::size_t>(r));
            continue;
        }
        const Step step = stepOf(ssl_, r);
        if (step == Step::Closed || !wait(step, deadline))
            return false;
    }
    return true;
}

void TlsConnection::drop() {
    ::shutdown(fd_, SHUT_RDWR);
    SSL_set_quiet_shutdown(ssl_, 1);
}

}  // namespace miravo::server
