#include "service/VersionCheck.h"

#include "app/AppSettings.h"
#include "app/Text.h"
#include "service/CurlSupport.h"
#include "service/Transport.h"

namespace miravo {

namespace cs = curl_support;

namespace {


struct PageSink {
    std::string bytes;
    bool full = false;

    static size_t write(char* data, size_t size, size_t count, void* self) {
        auto* sink = static_cast<PageSink*>(self);
        const size_t given = size * count;
        const size_t room = kMaxVersionAnswerBytes - sink->bytes.size();
        if (given >= room) {
            sink->bytes.append(data, room);
            sink->full = true;
            return given == room ? given : 0;  // enough: end the transfer
        }
        sink->bytes.append(data, given);
        return given;
    }
};

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

}  // namespace

double VersionValue(std::string_view version) {
    static constexpr double kWeights[] = {1.0, 0.001, 0.00001};
    double value = 0.0;
    std::size_t start = 0;
    for (double weight : kWeights) {
        if (start > version.size())
            break;
        const auto dot = version.find('.', start);
        const std::size_t end = dot == std::string_view::npos ? version.size() : dot;
        value += static_cast<double>(parseDecimal(version.substr(start, end - start))) * weight;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return value;
}

bool IsNewerVersion(std::string_view version) {
    return VersionValue(version) > VersionValue(kOwnVersion);
}

VersionAnswer ReadVersionAnswer(std::string_view body) {
    body = body.substr(0, kMaxVersionAnswerBytes);
    if (const auto nul = body.find('\0'); nul != std::string_view::npos)
        body = body.substr(0, nul);
    VersionAnswer answer;
    std::string_view version;
    if (const auto space = body.find(' '); space != std::string_view::npos) {
        version = body.substr(0, space);
        answer.downloadAddress = std::string(body.substr(space + 1));
    }
    answer.newer = IsNewerVersion(version);
    return answer;
}

bool CheckForNewerVersion(const AppSettings& settings, std::string& downloadAddress,
                          std::chrono::milliseconds deadline) {
    const std::string host = toUtf8(settings.versionHost);
    if (!cs::IsHostAndPort(host))
        return false;
    const std::string url = "http://" + host + std::string(kVersionPagePath);
    // A redirect to https is verified like every other TLS connection.
    cs::ExtraCertificates certificates;
    std::string error;
    if (!certificates.load(settings.caFile, error))
        return false;
    PageSink sink;
    cs::HeaderList headers;
    if (!cs::AddHeader(headers, "Pragma: no-cache"))
        return false;
    // Declared last, so that it goes before what it points at.
    cs::EasyHandle handle = cs::NewEasyHandle();
    if (!handle)
        return false;
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(deadline.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(deadline.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &PageSink::write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    certificates.apply(h);

    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sink.full))
        return false;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // An error page is no version answer ("404 Not Found" would read as version 404).
    if (status != 200)
        return false;
    VersionAnswer answer = ReadVersionAnswer(sink.bytes);
    if (!answer.downloadAddress.empty())
        downloadAddress = answer.downloadAddress;
    return answer.newer;
}

std::optional<std::string> OpenableDownloadAddress(std::string_view address) {
    while (!address.empty() && (address.back() == '\n' || address.back() == '\r' ||
                                address.back() == ' ' || address.back() == '\t'))
        address.remove_suffix(1);
    if (address.empty())
        return std::nullopt;
    for (char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F)
            return std::nullopt;
    }
    const std::string text(address);
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    char* scheme = nullptr;
    char* host = nullptr;
    bool ok = false;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string_view s(scheme);
        ok = (s == "http" || s == "https") && *host != '\0';
    }
    curl_free(scheme);
    curl_free(host);
    // The scheme must be written out: "example.com/x" would be guessed as http.
    const std::string lower = [&] {
        std::string l = text.substr(0, 8);
        for (char& c : l)
            c = static_cast<char>(asciiLower(static_cast<char16_t>(c)));
        return l;
    }();
    const std::size_t afterScheme =
        lower.rfind("http://", 0) == 0 ? 7 : (lower.rfind("https://", 0) == 0 ? 8 : 0);
    // "http:///x" has no host, whatever the parser makes of it.
    if (afterScheme == 0 || text.size() <= afterScheme || text[afterScheme] == '/')
        return std::nullopt;
    if (!ok)
        return std::nullopt;
    return text;
}

}  // namespace miravo
