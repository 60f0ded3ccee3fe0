// What the service exchanges and the version check share on top of
// libcurl: one-time initialisation, handle ownership, host checks, the
// certificate set-up and the sorting of curl's errors into outcomes.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

#include "service/Transport.h"

namespace miravo {

struct AppSettings;

namespace curl_support {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// A fresh easy handle (curl initialised once per process); null on failure.
EasyHandle NewEasyHandle();

// Appends a header line; false when curl cannot allocate it.
bool AddHeader(HeaderList& list, const std::string& line);

// "host", "host:port", "[v6]" or "[v6]:port" with a port of 1..65535, made
// of ASCII letters, digits, '-', '.', '_' (and ':' inside the brackets).
bool IsHostAndPort(std::string_view text);

// The extra CA certificates of a CA_FILE, handed to OpenSSL when the
// connection is set up. `load` reads them (PEM, at most 1 MiB); it fails
// on an unreadable file or one without a certificate.
class ExtraCertificates {
  public:
    bool load(std::u16string_view path, std::string& error);
    bool empty() const { return pem_.empty(); }
    // Sets verification (peer and host name) and, when certificates were
    // loaded, adds them to the trusted set of every TLS connection of `handle`.
    void apply(CURL* handle) const;

  private:
    static CURLcode addToContext(CURL* handle, void* sslContext, void* self);
    std::string pem_;
};

// Sorts a failed transfer into an outcome.
Outcome OutcomeOf(CURLcode code);
// curl's message for a failure, with the detail of the error buffer when it has one.
std::string DescribeError(CURLcode code, const char* errorBuffer);

}  // namespace curl_support
}  // namespace miravo
