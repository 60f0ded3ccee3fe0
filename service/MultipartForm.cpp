#include "service/MultipartForm.h"

#include "app/Text.h"

namespace miravo {

namespace {

// Values are C strings on the wire side: they end at the first NUL.
template <typename Char>
std::basic_string_view<Char> untilNul(std::basic_string_view<Char> text) {
    const auto end = text.find(Char(0));
    return end == std::basic_string_view<Char>::npos ? text : text.substr(0, end);
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

bool CarriesDelimiter(std::u16string_view value) {
    return value.find(kDelimiterText) != std::u16string_view::npos;
}

bool CarriesDelimiter(std::string_view bytes) {
    return bytes.find(kDelimiter) != std::string_view::npos;
}

void MultipartForm::add(std::u16string_view name, std::u16string_view value) {
    name = untilNul(name);
    value = untilNul(value);
    if (name.empty() || value.empty())
        return;
    if (body_.size() >= capacity_ || capacity_ - body_.size() <= name.size() + value.size())
        return;
    std::u16string part;
    part.reserve(kDelimiterText.size() + name.size() + value.size() + 48);
    part += kDelimiterText;
    part += u"\r\nContent-Disposition: form-data; name=\"";
    part += name;
    part += u"\"\r\n\r\n";
    part += value;
    part += u"\r\n";
    // The body and its terminator must stay within the capacity.
    if (part.size() >= capacity_ - body_.size())
        return;
    if (CarriesDelimiter(name) || CarriesDelimiter(value))
        carriesDelimiter_ = true;
    body_ += part;
}

std::string ToAnsi(std::u16string_view text) {
    text = untilNul(text);
    // A character outside the BMP is one character without a byte: one '?'.
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            units.push_back(u'?');
            ++i;
        } else {
            units.push_back(text[i]);
        }
        if (units.size() == kMaxAnsiBytes)
            break;
    }
    return toCp1252(units);
}

std::string LowBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        const char byte = static_cast<char>(c & 0xFF);
        if (byte == '\0')
            break;  // U+xx00 is a NUL on the wire: the value ends there
        out.push_back(byte);
    }
    return out;
}

std::string CoverTextUtf8(std::u16string_view text) {
    std::string utf8 = toUtf8(untilNul(text));
    if (utf8.size() <= kMaxCoverTextBytes)
        return utf8;
    // Back up to the first byte of the character the limit falls into.
    std::size_t cut = kMaxCoverTextBytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
        --cut;
    utf8.resize(cut);
    return utf8;
}

void FaxForm::append(std::string_view part) {
    if (tooLarge_)
        return;
    if (bytes_.size() + part.size() > kMaxAnswerBytes) {
        tooLarge_ = true;
        return;
    }
    bytes_ += part;
}

void FaxForm::add(std::string_view name, std::string_view value) {
    value = untilNul(value);
    if (CarriesDelimiter(name) || CarriesDelimiter(value))
        carriesDelimiter_ = true;
    std::string part;
    part.reserve(kDelimiter.size() + name.size() + value.size() + 48);
    part += kDelimiter;
    part += "\r\nContent-Disposition: form-data; name=\"";
    part += name;
    part += "\"\r\n\r\n";
    // A value is one line: a line break inside it would read as the end of
    // the part's value to the service.
    for (char c : value)
        part.push_back(c == '\r' || c == '\n' ? ' ' : c);
    part += "\r\n";
    append(part);
}

void FaxForm::addCoverPage(std::string_view utf8Text) {
    if (CarriesDelimiter(utf8Text))
        carriesDelimiter_ = true;
    std::string part = "\r\n";
    part += kDelimiter;
    part += "\r\nContent-Disposition: form-data; name=\"coverpage\"\r\n\r\n";
    part += utf8Text;
    part += "\r\n";
    append(part);
}

void FaxForm::addDocumentHeader() {
    std::string part(kDelimiter);
    part +=
        "\r\nContent-Disposition: form-data; name=\"document\"; filename=\"image.tif\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    append(part);
}

}  // namespace miravo
