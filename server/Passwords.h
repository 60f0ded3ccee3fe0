// Account passwords: salted PBKDF2-HMAC-SHA256 with many iterations, stored
// as "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>".
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace miravo::server {

inline constexpr int kDefaultHashIterations = 200000;

std::string hashPassword(std::string_view password, int iterations = kDefaultHashIterations);
// Constant-time comparison; a stored value that cannot be read never matches.
bool verifyPassword(std::string_view password, std::string_view stored);

// Remembers logins whose password has been verified, so that a client that
// polls every second does not pay the slow hash on every request. An entry is
// a keyed MAC (per-process random key) over login, password and stored hash:
// it never holds the password, and a changed hash invalidates it.
class VerifiedCredentials {
  public:
    VerifiedCredentials();
    bool check(std::string_view login, std::string_view password, std::string_view stored);
    // Verified before: no slow hash is computed.
    bool remembered(std::string_view login, std::string_view password, std::string_view stored);

  private:
    std::array<std::uint8_t, 32> mac(std::string_view login, std::string_view password,
                                     std::string_view stored) const;
    std::array<std::uint8_t, 32> key_{};
    std::mutex mutex_;
    std::map<std::string, std::array<std::uint8_t, 32>, std::less<>> verified_;
};

}  // namespace miravo::server
