#include "service/Transport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/AppSettings.h"
#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/Text.h"
#include "service/CurlSupport.h"

namespace miravo {

namespace cs = curl_support;

namespace {

constexpr std::size_t kBlockSize = 1024;
// The service gets a minute to accept the connection, and an exchange may
// stall for two minutes at most (within its overall deadline).
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 120;

ExchangeResult refused(std::string why) {
    ExchangeResult result;
    result.outcome = Outcome::Refused;
    result.error = std::move(why);
    return result;
}

// The document could not be sent: a fault on this side, which trying the
// service again cannot mend.
ExchangeResult unreadable(std::string why) {
    ExchangeResult result;
    result.outcome = Outcome::Unreadable;
    result.error = std::move(why);
    result.documentFault = true;
    return result;
}

ExchangeResult failed(std::string why) {
    ExchangeResult result;
    result.outcome = Outcome::Failed;
    result.error = std::move(why);
    return result;
}

// The answer as it arrives: at most 1,048,575 bytes, and only under the
// status 200 (the body of any other status is not wanted).
struct AnswerSink {
    CURL* handle = nullptr;
    std::string bytes;
    bool full = false;
    long refusedStatus = 0;

    static size_t write(char* data, size_t size, size_t count, void* self) {
        auto* sink = static_cast<AnswerSink*>(self);
        long status = 0;
        curl_easy_getinfo(sink->handle, CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) {
            sink->refusedStatus = status;
            return 0;  // end the transfer here
        }
        const size_t given = size * count;
        const size_t room = kMaxAnswerBytes - sink->bytes.size();
        if (given > room) {
            sink->full = true;
            return 0;
        }
        sink->bytes.append(data, given);
        return given;
    }
};

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// The multi handle of this thread's exchanges. It keeps the trusted
// certificates curl loaded, so that a send of many requests does not read
// and parse the system's whole certificate bundle for every one of them;
// a new one is made when the extra CA file changes, since the extra
// certificates join the kept store. Connections are not kept: every
// exchange opens its own, as it always did.
CURLM* threadMulti(const std::u16string& caFile) {
    thread_local std::unique_ptr<CURLM, MultiDeleter> multi;
    thread_local std::u16string multiCaFile;
    if (!multi || multiCaFile != caFile) {
        multi.reset(curl_multi_init());
        multiCaFile = caFile;
    }
    return multi.get();
}

// One exchange: the handle with the service's endpoint, options and headers.
class Exchange {
  public:
    bool open(const AppSettings& settings, std::string& error) {
        url_ = ServiceUrl(settings);
        if (url_.empty()) {
            error = "the service host \"" + toUtf8(settings.serviceHost) + "\" is not a host name";
            return false;
        }
        if (!certificates_.load(settings.caFile, error)) {
            caFileUnusable_ = true;
            return false;
        }
        caFile_ = settings.caFile;
        handle_ = cs::NewEasyHandle();
        if (!handle_) {
            error = "the network library could not be started";
            return false;
        }
        CURL* h = handle_.get();
        errorBuffer_[0] = '\0';
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        // The system bundle alone (not also the hashed folder of the same
        // certificates), which lets curl keep it loaded between exchanges.
        curl_easy_setopt(h, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        sink_.handle = h;
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AnswerSink::write);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink_);
        certificates_.apply(h);
        return true;
    }

    // Headers in this order; "Expect:" keeps curl from waiting for a
    // 100-continue that the service never promised.
    bool setHeaders(const std::string* contentLength, std::string& error) {
        bool ok = cs::AddHeader(headers_, "Accept: */*") &&
                  cs::AddHeader(headers_, "Connection: Keep-Alive") &&
                  cs::AddHeader(headers_, std::string(kContentTypeHeader)) &&
                  (!contentLength || cs::AddHeader(headers_, *contentLength)) &&
                  cs::AddHeader(headers_, "Expect:");
        if (!ok) {
            error = "the request headers could not be built";
            return false;
        }
        curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.get());
        return true;
    }

    CURL* handle() { return handle_.get(); }

    // Runs the exchange until it ends, its deadline passes or `limits`
    // cancels it.
    ExchangeResult perform(std::chrono::milliseconds deadline, const ExchangeLimits& limits) {
        if (limits.deadline.count() > 0)
            deadline = limits.deadline;
        CURL* h = handle_.get();
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(deadline.count()));
        bool cancelled = false;
        const CURLcode code = run(limits, cancelled);
        ExchangeResult result;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);
        if (cancelled) {
            result.outcome = Outcome::Cancelled;
            result.error = "the exchange was cancelled";
        } else if (sink_.refusedStatus != 0 || (code == CURLE_OK && result.httpStatus != 200)) {
            result.outcome = Outcome::HttpStatus;
            result.error =
                "the service answered with the HTTP status " + std::to_string(result.httpStatus);
        } else if (sink_.full) {
            result.outcome = Outcome::TooLong;
            result.error = "the answer is longer than 1,048,575 bytes";
        } else if (code == CURLE_OK) {
            result.outcome = Outcome::Answer;
            result.answer = std::move(sink_.bytes);
        } else if (code == CURLE_OPERATION_TIMEDOUT && connected()) {
            result.outcome = Outcome::TimedOut;
            result.error = "no complete answer within " +
                           std::to_string((deadline.count() + 999) / 1000) + " seconds";
        } else {
            result.outcome = cs::OutcomeOf(code);
            result.error = cs::DescribeError(code, errorBuffer_);
            result.untrustedCertificate = code == CURLE_PEER_FAILED_VERIFICATION;
        }
        return result;
    }

    // open() failed on the CA file the settings name, not on the service.
    bool caFileUnusable() const { return caFileUnusable_; }

  private:
    // The transfer on a multi handle, so that a cancel is seen within
    // kCancelPollMs whatever the peer does.
    CURLcode run(const ExchangeLimits& limits, bool& cancelled) {
        static constexpr int kCancelPollMs = 50;
        CURLM* multi = threadMulti(caFile_);
        CURL* h = handle_.get();
        if (!multi || curl_multi_add_handle(multi, h) != CURLM_OK)
            return CURLE_OUT_OF_MEMORY;
        CURLcode code = CURLE_OK;
        for (int running = 1; running;) {
            // Looked at first, so that nothing goes out once cancelled.
            if (limits.cancelled && limits.cancelled()) {
                cancelled = true;
                break;
            }
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                code = CURLE_SEND_ERROR;
                break;
            }
            if (running)
                curl_multi_poll(multi, nullptr, 0, kCancelPollMs, nullptr);
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == h)
                code = message->data.result;
        }
        curl_multi_remove_handle(multi, h);
        return code;
    }

    // Whether the connection to the service was made (a time-out before
    // that is a host that cannot be reached in time).
    bool connected() {
        curl_off_t connectTime = 0;
        curl_easy_getinfo(handle_.get(), CURLINFO_CONNECT_TIME_T, &connectTime);
        return connectTime > 0;
    }

  private:
    // Everything the handle points at outlives it: the handle goes first.
    std::string url_;
    std::u16string caFile_;
    cs::ExtraCertificates certificates_;
    bool caFileUnusable_ = false;
    cs::HeaderList headers_;
    AnswerSink sink_;
    char errorBuffer_[CURL_ERROR_SIZE];
    cs::EasyHandle handle_;
};

// Feeds curl the prefix, the file block by block, then the closing delimiter.
class UploadSource {
  public:
    enum class Stop { None, Delimiter, Shrunk, ReadError };

    UploadSource(std::string_view prefix, int fd, std::uint64_t fileSize, const UploadHooks& hooks)
        : prefix_(prefix), fd_(fd), fileSize_(fileSize), hooks_(hooks) {}

    Stop stop() const { return stop_; }
    int readErrno() const { return readErrno_; }

    static size_t read(char* buffer, size_t size, size_t count, void* self) {
        return static_cast<UploadSource*>(self)->fill(buffer, size * count);
    }

  private:
    size_t fill(char* out, size_t room) {
        size_t given = 0;
        while (given < room) {
            if (prefixSent_ < prefix_.size()) {
                given += take(prefix_, prefixSent_, out + given, room - given);
            } else if (!begun_) {
                begun_ = true;
                if (hooks_.begin)
                    hooks_.begin(fileSize_ / kBlockSize);
            } else if (blockSent_ < blockLength_) {
                given += take(std::string_view(block_ + kOverlap, blockLength_), blockSent_,
                              out + given, room - given);
            } else if (!fileDone_) {
                if (!nextBlock())
                    return CURL_READFUNC_ABORT;
            } else if (closingSent_ < kClosingDelimiter.size()) {
                given += take(kClosingDelimiter, closingSent_, out + given, room - given);
            } else {
                break;
            }
        }
        return given;
    }

    static size_t take(std::string_view from, size_t& sent, char* out, size_t room) {
        const size_t n = std::min(room, from.size() - sent);
        std::memcpy(out, from.data() + sent, n);
        sent += n;
        return n;
    }

    // One turn of the block loop: the step hook, then a read of up to 1,024
    // bytes (never beyond the size announced in Content-Length).
    bool nextBlock() {
        if (hooks_.step)
            hooks_.step();
        // Keep the end of the previous block in front, so that a delimiter
        // split across two blocks is found as well.
        std::memmove(block_, block_ + kOverlap + blockLength_ - kOverlap, kOverlap);
        const std::uint64_t left = fileSize_ - fileRead_;
        const size_t wanted = static_cast<size_t>(std::min<std::uint64_t>(kBlockSize, left));
        if (!fillReadAhead(wanted))
            return false;
        std::memcpy(block_ + kOverlap, readAhead_.data() + readAheadPos_, wanted);
        readAheadPos_ += wanted;
        blockLength_ = wanted;
        blockSent_ = 0;
        fileRead_ += blockLength_;
        if (blockLength_ == 0) {
            fileDone_ = true;
            return true;
        }
        const std::string_view scanned(block_, kOverlap + blockLength_);
        if (CarriesDelimiter(scanned)) {
            stop_ = Stop::Delimiter;
            return false;
        }
        return true;
    }

    // Makes `wanted` bytes of the file available in the read-ahead buffer.
    // The file is read in larger pieces than the blocks, which keeps the
    // number of system calls down without holding more than one piece.
    bool fillReadAhead(size_t wanted) {
        size_t available = readAheadEnd_ - readAheadPos_;
        if (available >= wanted)
            return true;
        std::memmove(readAhead_.data(), readAhead_.data() + readAheadPos_, available);
        readAheadPos_ = 0;
        readAheadEnd_ = available;
        const std::uint64_t unread = fileSize_ - fileRead_ - available;
        const size_t ask =
            static_cast<size_t>(std::min<std::uint64_t>(readAhead_.size() - available, unread));
        const ssize_t n = ask ? ReadFully(fd_, readAhead_.data() + available, ask) : 0;
        if (n < 0) {
            readErrno_ = errno;
            stop_ = Stop::ReadError;
            return false;
        }
        readAheadEnd_ += static_cast<size_t>(n);
        if (readAheadEnd_ < wanted) {
            stop_ = Stop::Shrunk;
            return false;
        }
        return true;
    }

    static constexpr size_t kOverlap = kDelimiter.size() - 1;
    static constexpr size_t kReadAhead = 64 * kBlockSize;

    std::vector<char> readAhead_ = std::vector<char>(kReadAhead);
    size_t readAheadPos_ = 0;
    size_t readAheadEnd_ = 0;

    std::string_view prefix_;
    int fd_;
    std::uint64_t fileSize_;
    const UploadHooks& hooks_;
    size_t prefixSent_ = 0;
    bool begun_ = false;
    // The current block sits behind kOverlap bytes of the previous one
    // (zero bytes before the first block, which cannot form the delimiter).
    char block_[kOverlap + kBlockSize] = {};
    size_t blockLength_ = kOverlap;  // so that the first move copies the zero bytes
    size_t blockSent_ = kOverlap;
    std::uint64_t fileRead_ = 0;
    bool fileDone_ = false;
    size_t closingSent_ = 0;
    Stop stop_ = Stop::None;
    int readErrno_ = 0;
};

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::string ServiceUrl(const AppSettings& settings) {
    const std::string host = toUtf8(settings.serviceHost);
    if (!cs::IsHostAndPort(host))
        return {};
    std::string object = toUtf8(settings.objectPath);
    if (!object.empty() && object.front() == '/')
        object.erase(0, 1);
    return "https://" + host + "/" + object;
}

std::chrono::milliseconds UploadDeadline(std::uint64_t fileBytes) {
    const std::uint64_t seconds = fileBytes / kUploadBytesPerSecond + 1;
    constexpr std::uint64_t kMaxSeconds = 7 * 24 * 3600;  // curl's long stays in range
    return kUploadBaseDeadline + std::chrono::seconds(std::min(seconds, kMaxSeconds));
}

namespace {

// The exchange could not be set up: the settings' CA file is said as such.
ExchangeResult unopened(const Exchange& exchange, std::string why) {
    ExchangeResult result = failed(std::move(why));
    result.caFileUnusable = exchange.caFileUnusable();
    return result;
}

}  // namespace

ExchangeResult PostForm(const AppSettings& settings, const MultipartForm& form,
                        const ExchangeLimits& limits) {
    if (form.carriesDelimiter())
        return refused("a form value contains the delimiter " + std::string(kDelimiter));
    const std::string body = toUtf8(form.body());
    if (body.size() > kMaxAnswerBytes)
        return refused("the request is larger than 1,048,575 bytes");

    Exchange exchange;
    std::string error;
    if (!exchange.open(settings, error))
        return unopened(exchange, error);
    const std::string contentLength = "Content-Length: " + std::to_string(body.size());
    if (!exchange.setHeaders(&contentLength, error))
        return failed(error);
    CURL* h = exchange.handle();
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    return exchange.perform(kFormDeadline, limits);
}

ExchangeResult PostFaxRequest(const AppSettings& settings, const FaxForm& body,
                              const ExchangeLimits& limits) {
    if (body.carriesDelimiter())
        return refused("a form value contains the delimiter " + std::string(kDelimiter));
    if (body.tooLarge())
        return refused("the request is larger than 1,048,575 bytes");

    Exchange exchange;
    std::string error;
    if (!exchange.open(settings, error) || !exchange.setHeaders(nullptr, error))
        return unopened(exchange, error);
    CURL* h = exchange.handle();
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.bytes().size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.bytes().c_str());
    return exchange.perform(kRequestDeadline, limits);
}

ExchangeResult PostFaxUpload(const AppSettings& settings, const FaxForm& prefix,
                             std::u16string_view filePath, const UploadHooks& hooks,
                             const ExchangeLimits& limits) {
    if (prefix.carriesDelimiter())
        return refused("a form value contains the delimiter " + std::string(kDelimiter));
    if (prefix.tooLarge())
        return refused("the request is larger than 1,048,575 bytes");

    const FileDescriptor file(
        ::open(ToFsPath(filePath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int openErrno = errno;
    struct stat info {};
    if (filePath.empty())
        return unreadable("no document to send");
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return unreadable("the document " + toUtf8(filePath) + " cannot be read: " +
                          std::strerror(file.get() < 0 ? openErrno : errno));
    if (!S_ISREG(info.st_mode))
        return unreadable("the document " + toUtf8(filePath) + " is not a regular file");
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    const std::uint64_t total = prefix.bytes().size() + fileSize + kClosingDelimiter.size();

    Exchange exchange;
    std::string error;
    if (!exchange.open(settings, error))
        return unopened(exchange, error);
    const std::string contentLength = "Content-Length: " + std::to_string(total);
    if (!exchange.setHeaders(&contentLength, error))
        return failed(error);
    UploadSource source(prefix.bytes(), file.get(), fileSize, hooks);
    CURL* h = exchange.handle();
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &UploadSource::read);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    ExchangeResult result = exchange.perform(UploadDeadline(fileSize), limits);
    switch (source.stop()) {
        case UploadSource::Stop::None:
            return result;
        case UploadSource::Stop::Delimiter:
            return refused("the document contains the delimiter " + std::string(kDelimiter));
        case UploadSource::Stop::Shrunk:
            return unreadable("the document became shorter while it was sent");
        case UploadSource::Stop::ReadError:
            return unreadable("the document could not be read: " +
                          std::string(std::strerror(source.readErrno())));
    }
    return result;
}

std::u16string AnswerFilePath() {
    return UserDataFilePath(u"result.xml");
}

bool StoreAnswer(std::string_view answer) {
    const std::u16string path = AnswerFilePath();
    if (path.empty())
        return false;
    const auto nul = answer.find('\0');
    if (nul != std::string_view::npos)
        answer = answer.substr(0, nul);
    // Answers may carry account data: readable by the user only.
    return writeFileAtomically(ToFsPath(path), answer, 0600);
}

}  // namespace miravo
