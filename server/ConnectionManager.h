// Accepts HTTPS (or plain HTTP) connections and keeps every one that is not being answered
// (handshaking, sending its request head, idle between requests) in one
// poll loop, each with a deadline, so that slow or idle clients hold no
// worker. A complete request head goes to a bounded queue that a fixed
// pool of workers serves; a worker hands a kept-alive connection back.
//
// What a client meets at the limits: the handshake and the first request
// head must be complete within headDeadline of connecting, a later head
// within headDeadline of its first byte, or the connection is closed. An
// idle connection is closed after idleTimeout, or sooner when the
// connection limit is reached and a new client arrives. An oversized head
// is answered 431, a malformed one 400, and a complete one that finds the
// queue full 503; each closes the connection.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/RequestHead.h"
#include "server/Connection.h"

namespace miravo::server {

struct FrontLimits {
    std::chrono::milliseconds headDeadline{5000};
    std::chrono::milliseconds idleTimeout{5000};
    std::size_t maxConnections = 512;
    std::size_t maxQueued = 128;
    std::size_t workers = 64;
    HeadLimits head;
};

class ConnectionManager {
  public:
    // Answers one request whose head has been read; true keeps the
    // connection for the client's next request.
    using Handler = std::function<bool(Connection&, const RequestHead&)>;

    // context null: plain HTTP connections.
    ConnectionManager(FrontLimits limits, SSL_CTX* context, Handler handler);
    ~ConnectionManager();

    // Serves the listening socket (non-blocking) until stop() or pause();
    // the connections it holds are closed when it returns, the socket is
    // left to the caller. Workers keep answering what they have.
    void serve(int listenFd);
    void pause();
    // Ends serve() and, once the requests under way are answered, the workers.
    void stop();

  private:
    enum class State { Handshake, Head, Idle };
    struct Entry {
        std::unique_ptr<Connection> connection;
        State state;
        Clock::time_point deadline;
        Connection::Step want = Connection::Step::WantRead;
    };
    struct Job {
        std::unique_ptr<Connection> connection;
        RequestHead head;
    };

    void accept(int listenFd, std::vector<Entry>& entries);
    // Moves the connection on as far as it goes without waiting; false when
    // it is finished with here (handed to a worker or closed).
    bool advance(Entry& entry);
    void refuse(Connection& connection, const char* status);
    void work();
    void handBack(std::unique_ptr<Connection> connection);
    void wake();

    const FrontLimits limits_;
    SSL_CTX* context_;
    Handler handler_;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> pausing_{false};
    std::atomic<bool> serving_{false};
    Clock::time_point acceptAgainAt_{};  // poll loop only

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> queue_;
    std::vector<std::unique_ptr<Connection>> returned_;
    std::vector<std::thread> workers_;
    std::mutex joinMutex_;
};

}  // namespace miravo::server
