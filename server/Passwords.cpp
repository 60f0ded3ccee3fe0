#include "server/Passwords.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>
#include <vector>

namespace miravo::server {

namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

std::string toHex(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

bool fromHex(std::string_view hex, std::vector<unsigned char>& out) {
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        auto [ptr, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || ptr != hex.data() + i + 2)
            return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

bool derive(std::string_view password, const unsigned char* salt, std::size_t saltSize,
            int iterations, unsigned char* out) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                             static_cast<int>(saltSize), iterations, EVP_sha256(),
                             static_cast<int>(kHashBytes), out) == 1;
}

}  // namespace

std::string hashPassword(std::string_view password, int iterations) {
    unsigned char salt[kSaltBytes];
    unsigned char hash[kHashBytes];
    if (RAND_bytes(salt, sizeof salt) != 1 ||
        !derive(password, salt, sizeof salt, iterations, hash))
        throw std::runtime_error("password hashing failed");
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + toHex(salt, sizeof salt) + "$" +
           toHex(hash, sizeof hash);
}

bool verifyPassword(std::string_view password, std::string_view stored) {
    constexpr std::string_view scheme = "pbkdf2-sha256$";
    if (stored.substr(0, scheme.size()) != scheme)
        return false;
    stored.remove_prefix(scheme.size());
    const std::size_t d1 = stored.find('$');
    const std::size_t d2 = d1 == std::string_view::npos ? d1 : stored.find('$', d1 + 1);
    if (d2 == std::string_view::npos)
        return false;
    int iterations = 0;
    auto [ptr, ec] = std::from_chars(stored.data(), stored.data() + d1, iterations);
    if (ec != std::errc() || ptr != stored.data() + d1 || iterations < 1 || iterations > 10000000)
        return false;
    std::vector<unsigned char> salt, expected;
    if (!fromHex(stored.substr(d1 + 1, d2 - d1 - 1), salt) ||
        !fromHex(stored.substr(d2 + 1), expected) || expected.size() != kHashBytes || salt.empty())
        return false;
    unsigned char hash[kHashBytes];
    if (!derive(password, salt.data(), salt.size(), iterations, hash))
        return false;
    return CRYPTO_memcmp(hash, expected.data(), kHashBytes) == 0;
}

VerifiedCredentials::VerifiedCredentials() {
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1)
        throw std::runtime_error("no random key");
}

std::array<std::uint8_t, 32> VerifiedCredentials::mac(std::string_view login,
                                                      std::string_view password,
                                                      std::string_view stored) const {
    std::string message;
    message.reserve(login.size() + password.size() + stored.size() + 2);
    message.append(login).push_back('\0');
    message.append(password).push_back('\0');
    message.append(stored);
    std::array<std::uint8_t, 32> out{};
    unsigned int size = 0;
    HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), out.data(), &size);
    return out;
}

bool VerifiedCredentials::remembered(std::string_view login, std::string_view password,
                                     std::string_view stored) {
    const auto tag = mac(login, password, stored);
    std::lock_guard lock(mutex_);
    auto it = verified_.find(login);
    return it != verified_.end() && CRYPTO_memcmp(it->second.data(), tag.data(), tag.size()) == 0;
}

bool VerifiedCredentials::check(std::string_view login, std::string_view password,
                                std::string_view stored) {
    if (remembered(login, password, stored))
        return true;
    if (!verifyPassword(password, stored))
        return false;
    std::lock_guard lock(mutex_);
    verified_[std::string(login)] = mac(login, password, stored);
    return true;
}

}  // namespace miravo::server
