#include "service/CurlSupport.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <csignal>
#include <iterator>
#include <mutex>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"

namespace miravo::curl_support {

namespace {

constexpr std::uintmax_t kMaxCaFileBytes = 1 << 20;

bool isHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool isPort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5)
        return false;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

// Calls `use` for every certificate in the PEM text; returns how many there were.
template <typename Use>
int forEachCertificate(const std::string& pem, Use use) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio)
        return 0;
    int count = 0;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        use(cert);
        X509_free(cert);
        ++count;
    }
    ERR_clear_error();  // the end of the text reads as an error
    BIO_free(bio);
    return count;
}

}  // namespace

EasyHandle NewEasyHandle() {
    static std::once_flag once;
    static CURLcode initResult = CURLE_OK;
    std::call_once(once, [] {
        // A peer that closes its end while we write must end the exchange
        // with an error, not the whole program with SIGPIPE.
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
        initResult = curl_global_init(CURL_GLOBAL_DEFAULT);
    });
    if (initResult != CURLE_OK)
        return nullptr;
    return EasyHandle(curl_easy_init());
}

bool AddHeader(HeaderList& list, const std::string& line) {
    curl_slist* appended = curl_slist_append(list.get(), line.c_str());
    if (!appended)
        return false;
    list.release();
    list.reset(appended);
    return true;
}

bool IsHostAndPort(std::string_view text) {
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close < 2)
            return false;
        for (char c : text.substr(1, close - 1)) {
            const bool hex =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.')
                return false;
        }
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty())
            return true;
        return rest.front() == ':' && isPort(rest.substr(1));
    }
    const auto colon = text.find(':');
    if (colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (!isPort(port))
            return false;
    }
    if (host.empty())
        return false;
    for (char c : host) {
        if (!isHostChar(c))
            return false;
    }
    return true;
}

bool ExtraCertificates::load(std::u16string_view path, std::string& error) {
    pem_.clear();
    if (path.empty())
        return true;
    const std::filesystem::path fsPath = ToFsPath(path);
    std::error_code ec;
    const auto size = std::filesystem::file_size(fsPath, ec);
    if (ec || size > kMaxCaFileBytes) {
        error = "the CA file " + toUtf8(path) +
                " cannot be read: " + (ec ? ec.message() : std::string("it is larger than 1 MiB"));
        return false;
    }
    // Read by descriptor: a stream iterator throws on a read error.
    std::string pem;
    if (ReadFileBytes(fsPath, pem) != FileRead::Read) {
        const std::string why = FileReadProblem(fsPath);
        error = "the CA file " + toUtf8(path) + " cannot be read" + (why.empty() ? "" : ": " + why);
        return false;
    }
    if (forEachCertificate(pem, [](X509*) {}) == 0) {
        error = "the CA file " + toUtf8(path) + " holds no PEM certificate";
        return false;
    }
    pem_ = std::move(pem);
    return true;
}

CURLcode ExtraCertificates::addToContext(CURL*, void* sslContext, void* self) {
    const auto* certificates = static_cast<const ExtraCertificates*>(self);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (!store)
        return CURLE_SSL_CACERT_BADFILE;
    forEachCertificate(certificates->pem_,
                       [store](X509* cert) { X509_STORE_add_cert(store, cert); });
    ERR_clear_error();  // a certificate already in the store is not a failure
    return CURLE_OK;
}

void ExtraCertificates::apply(CURL* handle) const {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (pem_.empty())
        return;
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &ExtraCertificates::addToContext);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, const_cast<ExtraCertificates*>(this));
}

Outcome OutcomeOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return Outcome::Answer;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Outcome::NameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return Outcome::HostNotReached;
        default:
            return Outcome::Failed;
    }
}

std::string DescribeError(CURLcode code, const char* errorBuffer) {
    std::string text = curl_easy_strerror(code);
    if (errorBuffer && *errorBuffer) {
        text += ": ";
        text += errorBuffer;
    }
    return text;
}

}  // namespace miravo::curl_support
