#include "server/Delivery.h"

#include <cmath>
#include <cstdio>

#include "app/Text.h"

namespace miravo::server {

std::optional<std::string> normalizeNumber(std::string_view number) {
    std::string digits;
    bool plus = false;
    for (std::size_t i = 0; i < number.size(); ++i) {
        const char c = number[i];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        } else if (c == '+' && digits.empty() && !plus) {
            plus = true;
        } else if (c == ' ' || c == '-' || c == '.' || c == '/' || c == '(' || c == ')') {
            continue;
        } else {
            return std::nullopt;
        }
        if (digits.size() > 20)
            return std::nullopt;
    }
    if (digits.size() < 5)
        return std::nullopt;
    return plus ? "+" + digits : digits;
}

std::string finalStatusFor(std::string_view normalized) {
    if (normalized.size() < 2)
        return "OK";
    const std::string_view last = normalized.substr(normalized.size() - 2);
    if (last == "00")
        return "BU";
    if (last == "01")
        return "NA";
    if (last == "02")
        return "FA";
    if (last == "03")
        return "NF";
    if (last == "04")
        return "CR";
    return "OK";
}

static double cents(double amount) {
    return std::round(amount * 100.0) / 100.0;
}

double expectedCost(int pages, double rate) {
    return cents(pages * rate);
}

double deliveryCost(int pages, double rate, std::string_view status) {
    return status == "OK" ? expectedCost(pages, rate) : 0.0;
}

std::string money(double amount) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", amount);
    return buffer;
}

std::string cleanText(std::string_view utf8) {
    std::u16string text = fromUtf8(utf8);
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            continue;
        if (c == 0x7f || c == 0xfffe || c == 0xffff)
            continue;
        out.push_back(c);
    }
    return toUtf8(out);
}

}  // namespace miravo::server
