#include "server/Certificates.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace miravo::server {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24L * 60 * 60;

KeyPtr newKey() {
    return KeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

CertPtr newCertificate(EVP_PKEY* key, const char* commonName, long days) {
    CertPtr cert(X509_new(), X509_free);
    if (!cert)
        return cert;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * kDay);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Miravo local fax service"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    return cert;
}

bool writePem(const std::filesystem::path& path, X509* cert, EVP_PKEY* key) {
    const std::filesystem::path temp = path.string() + ".tmp";
    const mode_t old = umask(077);
    FILE* f = std::fopen(temp.c_str(), "wb");
    umask(old);
    if (!f)
        return false;
    const bool ok = cert ? PEM_write_X509(f, cert) == 1
                         : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed)
        return false;
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

CertPtr readCert(const std::filesystem::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return CertPtr(nullptr, X509_free);
    CertPtr cert(PEM_read_X509(f, nullptr, nullptr, nullptr), X509_free);
    std::fclose(f);
    return cert;
}

KeyPtr readKey(const std::filesystem::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return KeyPtr(nullptr, EVP_PKEY_free);
    KeyPtr key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(f);
    return key;
}

// True when the certificate is valid now and for `days` more days.
bool validFor(X509* cert, long days) {
    const time_t later = time(nullptr) + days * kDay;
    return X509_cmp_current_time(X509_get0_notBefore(cert)) < 0 &&
           X509_cmp_time(X509_get0_notAfter(cert), const_cast<time_t*>(&later)) > 0;
}

}  // namespace

CertificateFiles certificateFiles(const std::filesystem::path& dataDir) {
    return {dataDir / "ca.pem", dataDir / "ca-key.pem", dataDir / "server.pem",
            dataDir / "server-key.pem"};
}

bool ensureCertificates(const std::filesystem::path& dataDir, std::string& error) {
    const CertificateFiles files = certificateFiles(dataDir);
    CertPtr ca = readCert(files.caCert);
    KeyPtr caKey = readKey(files.caKey);
    if (!ca || !caKey || X509_check_private_key(ca.get(), caKey.get()) != 1 ||
        !validFor(ca.get(), 30)) {
        caKey = newKey();
        if (!caKey) {
            error = "cannot make a key";
            return false;
        }
        ca = newCertificate(caKey.get(), "Miravo local fax service CA", 3650);
        X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
        if (!addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE") ||
            !addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
            !addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") ||
            X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0) {
            error = "cannot sign the CA certificate";
            return false;
        }
        if (!writePem(files.caKey, nullptr, caKey.get()) ||
            !writePem(files.caCert, ca.get(), nullptr)) {
            error = "cannot write the CA files in " + dataDir.string();
            return false;
        }
        std::error_code ec;
        std::filesystem::remove(files.serverCert, ec);  // issued by the old CA
    }

    CertPtr server = readCert(files.serverCert);
    KeyPtr serverKey = readKey(files.serverKey);
    if (server && serverKey && X509_check_private_key(server.get(), serverKey.get()) == 1 &&
        validFor(server.get(), 30) && X509_verify(server.get(), caKey.get()) == 1)
        return true;

    serverKey = newKey();
    if (!serverKey) {
        error = "cannot make a key";
        return false;
    }
    server = newCertificate(serverKey.get(), "localhost", 397);
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    if (!addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(server.get(), ca.get(), NID_subject_alt_name,
                      "DNS:localhost,IP:127.0.0.1,IP:::1") ||
        !addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash") ||
        !addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always") ||
        X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0) {
        error = "cannot sign the server certificate";
        return false;
    }
    if (!writePem(files.serverKey, nullptr, serverKey.get()) ||
        !writePem(files.serverCert, server.get(), nullptr)) {
        error = "cannot write the server certificate in " + dataDir.string();
        return false;
    }
    return true;
}

}  // namespace miravo::server
