#include "server/ConnectionManager.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace miravo::server {

ConnectionManager::ConnectionManager(FrontLimits limits, SSL_CTX* context, Handler handler)
    : limits_(limits), context_(context), handler_(std::move(handler)) {
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        wakePipe_[0] = wakePipe_[1] = -1;
    for (std::size_t i = 0; i < limits_.workers; ++i)
        workers_.emplace_back([this] { work(); });
}

ConnectionManager::~ConnectionManager() {
    stop();
    for (int fd : wakePipe_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ConnectionManager::wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
}

void ConnectionManager::pause() {
    pausing_ = true;
    wake();
}

void ConnectionManager::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    wake();
    std::lock_guard lock(joinMutex_);
    for (std::thread& t : workers_) {
        if (t.joinable() && t.get_id() != std::this_thread::get_id())
            t.join();
    }
}

void ConnectionManager::handBack(std::unique_ptr<Connection> connection) {
    if (!serving_ || stopping_)
        return;  // closed here
    {
        std::lock_guard lock(mutex_);
        returned_.push_back(std::move(connection));
    }
    wake();
}

void ConnectionManager::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // Requests already queued are still answered when stopping.
            if (queue_.empty())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        if (handler_(*job.connection, job.head))
            handBack(std::move(job.connection));
    }
}

// A short answer that ends the connection; best effort, never waits long.
void ConnectionManager::refuse(Connection& connection, const char* status) {
    const std::string text = std::string("HTTP/1.1 ") + status +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    connection.writeAll(text, Clock::now() + std::chrono::milliseconds(100));
}

void ConnectionManager::accept(int listenFd, std::vector<Entry>& entries) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory: the waiting connection would wake
            // the loop at once again, so stop accepting for a moment.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptAgainAt_ = Clock::now() + std::chrono::milliseconds(100);
            return;
        }
        // Answers go out as soon as they are written, not after the peer's
        // delayed acknowledgement.
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        char address[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        auto connection =
            std::make_unique<Connection>(fd, context_, address, ntohs(peer.sin_port));
        if (!connection->valid())
            continue;
        if (entries.size() >= limits_.maxConnections) {
            // Make room by closing the connection idle longest; with none
            // idle the newcomer is turned away.
            auto idle = std::min_element(entries.begin(), entries.end(), [](auto& a, auto& b) {
                const bool ai = a.state == State::Idle, bi = b.state == State::Idle;
                return ai != bi ? ai : a.deadline < b.deadline;
            });
            if (idle == entries.end() || idle->state != State::Idle)
                continue;
            entries.erase(idle);
        }
        entries.push_back(
            {std::move(connection), State::Handshake, Clock::now() + limits_.headDeadline});
    }
}

bool ConnectionManager::advance(Entry& entry) {
    Connection& c = *entry.connection;
    if (entry.state == State::Handshake) {
        entry.want = c.handshake();
        if (entry.want != Connection::Step::Done)
            return entry.want != Connection::Step::Closed;
        entry.state = State::Head;
    }
    for (;;) {
        if (!c.received.empty()) {
            if (entry.state == State::Idle) {
                entry.state = State::Head;
                entry.deadline = Clock::now() + limits_.headDeadline;
            }
            RequestHead head;
            std::size_t used = 0;
            switch (parseHead(c.received, limits_.head, head, used)) {
                case HeadStatus::Incomplete:
                    break;
                case HeadStatus::Complete: {
                    c.received.erase(0, used);
                    std::unique_lock lock(mutex_);
                    if (queue_.size() >= limits_.maxQueued) {
                        lock.unlock();
                        refuse(c, "503 Service Unavailable");
                        return false;
                    }
                    queue_.push_back({std::move(entry.connection), std::move(head)});
                    lock.unlock();
                    ready_.notify_one();
                    return false;
                }
                case HeadStatus::Malformed:
                    refuse(c, "400 Bad Request");
                    return false;
                case HeadStatus::TooLarge:
                    refuse(c, "431 Request Header Fields Too Large");
                    return false;
            }
        }
        entry.want = c.readAvailable(limits_.head.maxBytes + 1);
        if (entry.want != Connection::Step::Done)
            return entry.want != Connection::Step::Closed;
    }
}

void ConnectionManager::serve(int listenFd) {
    serving_ = true;
    pausing_ = false;
    std::vector<Entry> entries;
    std::vector<pollfd> polled;
    while (!stopping_ && !pausing_) {
        polled.clear();
        polled.push_back({wakePipe_[0], POLLIN, 0});
        polled.push_back({listenFd, static_cast<short>(Clock::now() >= acceptAgainAt_ ? POLLIN : 0), 0});
        auto next = Clock::now() + std::chrono::seconds(1);
        for (const Entry& e : entries) {
            const bool out = e.want == Connection::Step::WantWrite;
            polled.push_back({e.connection->fd(), static_cast<short>(out ? POLLOUT : POLLIN), 0});
            next = std::min(next, e.deadline);
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        ::poll(polled.data(), polled.size(), static_cast<int>(std::max<long long>(wait, 0) + 1));

        // Kept-alive connections the workers are done with.
        std::vector<std::unique_ptr<Connection>> back;
        if (polled[0].revents) {
            char drain[256];
            while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
            std::lock_guard lock(mutex_);
            back.swap(returned_);
        }
        const auto now = Clock::now();
        std::vector<Entry> kept;
        kept.reserve(entries.size() + back.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            Entry& e = entries[i];
            const bool ready = polled[i + 2].revents != 0;
            if ((ready && !advance(e)) || !e.connection)
                continue;
            if (now >= e.deadline)
                continue;  // too slow, or idle too long: closed
            kept.push_back(std::move(e));
        }
        for (auto& c : back) {
            Entry e{std::move(c), State::Idle, now + limits_.idleTimeout};
            // The next request may have come with the last one.
            if (e.connection->hasBuffered() && (!advance(e) || !e.connection))
                continue;
            kept.push_back(std::move(e));
        }
        entries.swap(kept);
        if (polled[1].revents)
            accept(listenFd, entries);
    }
    serving_ = false;
    std::lock_guard lock(mutex_);
    returned_.clear();
}

}  // namespace miravo::server
