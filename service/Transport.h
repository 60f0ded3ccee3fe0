// The exchanges with the fax service: one HTTPS POST of a multipart body to
// "https://" + SERV_NAME + "/" + OBJ_NAME, answered by an XML document.
//
// SERV_NAME is "host" or "host:port" (port 443 unless given; an IPv6
// address is written in brackets, "[::1]:8443"). Every exchange sends the
// user agent "Miravo 3.0.1", "Accept: */*", "Connection: Keep-Alive", no
// cookies, and keeps nothing in a cache; it speaks HTTP/1.1 and honours the
// system's proxy settings (the proxy environment variables).
//
// Certificates are verified, name and dates, against the system's trusted
// certificates plus the CA certificates of the file CA_FILE names (PEM,
// empty: none). A CA file that cannot be read fails every exchange, so a
// typing error there never silently turns into an unverified connection.
//
// Each exchange owns its buffers: the request body it was handed and the
// answer it returns, at most 1,048,575 bytes. Only a whole answer with the
// HTTP status 200 is an answer: another status (a redirect is never
// followed), or an answer longer than 1,048,575 bytes, is a failure whose
// body is not kept.
//
// Every exchange ends by an overall deadline, a default per kind of request
// (see the k...Deadline constants; the upload's grows with the document),
// and can be cancelled from outside: the exchange checks its cancel
// function at least every 100 ms and then ends at once. Exchanges may run
// on any thread and at the same time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "service/MultipartForm.h"

namespace miravo {

struct AppSettings;

inline constexpr std::string_view kUserAgent = "Miravo 3.0.1";

// What came of an exchange. The send worker starts its sequence again on
// NameNotResolved and HostNotReached; Refused means nothing was sent.
enum class Outcome {
    Answer,           // the service answered with status 200; the answer is in `answer`
    NameNotResolved,  // the host name could not be resolved
    HostNotReached,   // no connection to the host could be made
    Refused,          // not sent: a value carries the delimiter, or the body is too large
    HttpStatus,       // the service answered with another status (in httpStatus)
    TooLong,          // the answer went beyond 1,048,575 bytes: cut, so not read
    TimedOut,         // the exchange's deadline passed before the answer was complete
    Cancelled,        // stopped from outside (the window closed, Ctrl-C)
    Failed,           // anything else: TLS refused, connection dropped...
    Unreadable,       // the document to upload could not be read: the upload stopped
};

// Overall deadlines of the exchanges. A request with a small answer
// (authentication, status) gets a minute; the text exchanges, whose answers
// may be a whole address book or a rendered cover page, two minutes; the
// upload two minutes plus one second for every 8 KiB of the document (a
// link of 64 kbit/s still finishes).
inline constexpr std::chrono::milliseconds kRequestDeadline{60'000};
inline constexpr std::chrono::milliseconds kFormDeadline{120'000};
inline constexpr std::chrono::milliseconds kUploadBaseDeadline{120'000};
inline constexpr std::uint64_t kUploadBytesPerSecond = 8 * 1024;

// The upload's deadline for a document of `fileBytes`.
std::chrono::milliseconds UploadDeadline(std::uint64_t fileBytes);

// How an exchange is bounded from outside.
struct ExchangeLimits {
    // Replaces the kind's default deadline when positive.
    std::chrono::milliseconds deadline{0};
    // Polled on the exchange's thread at least every 100 ms; true ends the
    // exchange with Outcome::Cancelled.
    std::function<bool()> cancelled;
};

struct ExchangeResult {
    Outcome outcome = Outcome::Failed;
    // The answer bytes; empty unless outcome is Answer.
    std::string answer;
    long httpStatus = 0;
    // Why the exchange did not end with an answer (English, for logs and
    // tools; it names a status other than 200).
    std::string error;
    // The document itself could not be sent (unreadable, changed while it
    // was sent), not the service: a failure on this side.
    bool documentFault = false;

    // The service's certificate was refused (not signed by a trusted CA,
    // expired, or made out to another name).
    bool untrustedCertificate = false;
    // The CA file the settings name cannot be read or holds no certificate:
    // nothing was sent, and the settings, not the service, are to mend.
    bool caFileUnusable = false;

    bool answered() const { return outcome == Outcome::Answer; }
    // Host name not resolved or host not reached: worth starting again.
    bool hostUnavailable() const {
        return outcome == Outcome::NameNotResolved || outcome == Outcome::HostNotReached;
    }
};

// "https://host[:port]/object"; empty when SERV_NAME is empty or is not a
// plain host with an optional port.
std::string ServiceUrl(const AppSettings& settings);

// The text exchange: the form's wide body goes out as UTF-8 with
// "Content-Type: multipart/form-data; boundary=--AaB03x" and
// "Content-Length: <bytes>" and no closing delimiter; an empty form is an
// empty body with Content-Length 0. A body carrying the delimiter or
// longer than 1,048,575 bytes in UTF-8 is refused without sending.
ExchangeResult PostForm(const AppSettings& settings, const MultipartForm& form,
                        const ExchangeLimits& limits = {});

// The fax exchange, sent whole: the narrow body with the Content-Type
// header (its length is supplied as Content-Length). Refused like PostForm.
ExchangeResult PostFaxRequest(const AppSettings& settings, const FaxForm& body,
                              const ExchangeLimits& limits = {});

// Progress of an upload: `begin` once with the number of whole 1,024-byte
// blocks of the file (size / 1024) after the prefix is sent, then `step`
// before each 1,024-byte read of the file, the last one before the read
// that finds the end (so size / 1024 + 1 calls, plus one for a last
// partial block). Either may be empty. They run on the exchange's thread.
struct UploadHooks {
    std::function<void(std::uint64_t blocks)> begin;
    std::function<void()> step;
};

// The fax exchange with the document: the prefix (form parts ending with
// FaxForm::addDocumentHeader), then the file streamed in 1,024-byte blocks
// (never held whole in memory), then "\r\n----AaB03x--\r\n";
// Content-Length is prefix + file + 16. Refused like PostForm; a file that
// holds the delimiter is refused as soon as the block carrying it is read,
// before that block is sent. A file that cannot be opened, or that shrinks
// while it is sent, fails the exchange (Outcome::Unreadable): the fault is
// the disk's, not the service's, and trying the service again cannot mend it.
ExchangeResult PostFaxUpload(const AppSettings& settings, const FaxForm& prefix,
                             std::u16string_view filePath, const UploadHooks& hooks = {},
                             const ExchangeLimits& limits = {});

// "result.xml" in the application-data folder, where every answer is kept
// for reading; empty when that folder is not available.
std::u16string AnswerFilePath();

// Writes an answer (up to its first NUL byte) to "result.xml" in the
// application-data folder, replacing the previous file as a whole. When the
// file cannot be written the previous one stays. Returns whether it was written.
bool StoreAnswer(std::string_view answer);

}  // namespace miravo
