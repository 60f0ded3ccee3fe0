#include "tests/service/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace miravo::test {

namespace {

std::string pemOf(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

std::string pemOf(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext)
        throw std::runtime_error("certificate extension " + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* newCertificate(EVP_PKEY* key, const std::string& commonName, long serial, long notBefore,
                     long notAfter) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

bool sendAll(SSL* ssl, int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = ssl ? SSL_write(ssl, data, static_cast<int>(size))
                          : static_cast<int>(::send(fd, data, size, MSG_NOSIGNAL));
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

long receive(SSL* ssl, int fd, char* buffer, std::size_t size) {
    return ssl ? SSL_read(ssl, buffer, static_cast<int>(size))
               : static_cast<long>(::recv(fd, buffer, size, 0));
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TestCertificates TestCertificates::make(const std::vector<std::string>& names, long notBefore,
                                        long notAfter) {
    EVP_PKEY* caKey = EVP_EC_gen("P-256");
    EVP_PKEY* serverKey = EVP_EC_gen("P-256");
    if (!caKey || !serverKey)
        throw std::runtime_error("key generation failed");

    X509* ca = newCertificate(caKey, "Miravo Test CA", 1, -7200, 7 * 86400);
    X509_set_issuer_name(ca, X509_get_subject_name(ca));
    addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca, ca, NID_subject_key_identifier, "hash");
    X509_sign(ca, caKey, EVP_sha256());

    X509* server = newCertificate(serverKey, "Miravo Test Server", 2, notBefore, notAfter);
    X509_set_issuer_name(server, X509_get_subject_name(ca));
    addExtension(server, ca, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server, ca, NID_key_usage, "critical,digitalSignature");
    addExtension(server, ca, NID_ext_key_usage, "serverAuth");
    std::string alternatives;
    for (const std::string& name : names)
        alternatives += (alternatives.empty() ? "" : ",") + name;
    addExtension(server, ca, NID_subject_alt_name, alternatives);
    X509_sign(server, caKey, EVP_sha256());

    TestCertificates result{pemOf(ca), pemOf(server), pemOf(serverKey)};
    X509_free(server);
    X509_free(ca);
    EVP_PKEY_free(serverKey);
    EVP_PKEY_free(caKey);
    return result;
}

std::string RecordedRequest::requestLine() const {
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RecordedRequest::headerLines() const {
    std::vector<std::string> lines;
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        lines.push_back(head.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string RecordedRequest::header(const std::string& name) const {
    const std::string wanted = lower(name);
    for (const std::string& line : headerLines()) {
        const auto colon = line.find(':');
        if (colon != std::string::npos && lower(line.substr(0, colon)) == wanted) {
            std::size_t value = colon + 1;
            while (value < line.size() && line[value] == ' ')
                ++value;
            return line.substr(value);
        }
    }
    return {};
}

LoopbackServer::LoopbackServer(const TestCertificates* certificates) {
    // A client that gives up mid-request must not end the test process.
    ::signal(SIGPIPE, SIG_IGN);
    if (certificates) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        BIO* certBio = BIO_new_mem_buf(certificates->serverCertPem.data(),
                                       static_cast<int>(certificates->serverCertPem.size()));
        BIO* keyBio = BIO_new_mem_buf(certificates->serverKeyPem.data(),
                                      static_cast<int>(certificates->serverKeyPem.size()));
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        if (!ctx || !cert || !key || SSL_CTX_use_certificate(ctx, cert) != 1 ||
            SSL_CTX_use_PrivateKey(ctx, key) != 1)
            throw std::runtime_error("server TLS set-up failed");
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);
        context_ = ctx;
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("loopback listener failed");
    port_ = ntohs(address.sin_port);
    responder_ = [](const RecordedRequest&) {
        return httpAnswer(200, "<API_RESULT><ERROR>0</ERROR></API_RESULT>");
    };
    thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

void LoopbackServer::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void LoopbackServer::setStreamer(Streamer streamer) {
    std::lock_guard lock(mutex_);
    streamer_ = std::move(streamer);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LoopbackServer::httpAnswer(int status, const std::string& body,
                                       const std::string& contentType) {
    return "HTTP/1.1 " + std::to_string(status) + " Answer\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

void LoopbackServer::run() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            serve(client);
            ::close(client);
        }
    }
}

void LoopbackServer::serve(int client) {
    timeval timeout{10, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    SSL* ssl = nullptr;
    if (context_) {
        ssl = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_fd(ssl, client);
        if (SSL_accept(ssl) != 1) {
            ++failedHandshakes_;
            ERR_clear_error();
            SSL_free(ssl);
            return;
        }
    }
    RecordedRequest request;
    std::string received;
    std::vector<char> buffer(64 * 1024);
    std::size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const long n = receive(ssl, client, buffer.data(), buffer.size());
        if (n <= 0 || received.size() > (1 << 20))
            break;
        received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    if (headEnd != std::string::npos) {
        request.head = received.substr(0, headEnd + 4);
        const std::string length = request.header("Content-Length");
        const std::uint64_t wanted =
            length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
        std::string rest = received.substr(headEnd + 4);
        request.bodyBytes = rest.size();
        if (keepBodies_)
            request.body = std::move(rest);
        const std::uint64_t dropAfter = dropAfter_;
        while (request.bodyBytes < wanted) {
            if (dropAfter > 0 && request.bodyBytes >= dropAfter)
                break;
            const std::size_t ask = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer.size(), wanted - request.bodyBytes));
            const long n = receive(ssl, client, buffer.data(), ask);
            if (n <= 0)
                break;
            request.bodyBytes += static_cast<std::uint64_t>(n);
            if (keepBodies_)
                request.body.append(buffer.data(), static_cast<std::size_t>(n));
        }
        Responder responder;
        Streamer streamer;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            responder = responder_;
            streamer = streamer_;
        }
        if (dropAfter > 0 && request.bodyBytes >= dropAfter) {
            ::shutdown(client, SHUT_RDWR);  // dropped in the middle of the upload
        } else if (streamer) {
            streamer(request, [&](const std::string& piece) {
                return !stopping_ && sendAll(ssl, client, piece.data(), piece.size());
            });
        } else {
            const std::string answer = responder(request);
            if (!answer.empty())
                sendAll(ssl, client, answer.data(), answer.size());
        }
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ERR_clear_error();
}

void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace miravo::test
