// The service's own certificate authority and server certificate, kept in
// the data folder: ca.pem (the CA certificate clients trust, e.g. through
// the client's CA_FILE setting), ca-key.pem, server.pem and server-key.pem
// (keys mode 0600). The server certificate names localhost, 127.0.0.1 and
// ::1 and is reissued from the same CA when missing or close to expiry.
#pragma once

#include <filesystem>
#include <string>

namespace miravo::server {

struct CertificateFiles {
    std::filesystem::path caCert, caKey, serverCert, serverKey;
};

CertificateFiles certificateFiles(const std::filesystem::path& dataDir);

// Makes sure all four files exist and the server certificate is valid for at
// least 30 more days. False (with a reason) when that cannot be done.
bool ensureCertificates(const std::filesystem::path& dataDir, std::string& error);

}  // namespace miravo::server
