// The multipart envelope of every request to the fax service: the fixed
// boundary, the byte format of one form part, the text form of the text
// exchange and the narrow (byte) form of the fax exchange, and the value
// encodings of the fax exchange.
//
// Nothing in a value is escaped, so a value that carries the delimiter
// "----AaB03x" would end its part early and could smuggle in fields of its
// own. Both forms remember such a value; the transport then refuses to send
// the request at all (Outcome::Refused) instead of sending a corrupt body.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace miravo {

// The boundary parameter and the delimiter line every part begins with.
inline constexpr std::string_view kBoundary = "--AaB03x";
inline constexpr std::string_view kDelimiter = "----AaB03x";
inline constexpr std::u16string_view kDelimiterText = u"----AaB03x";
// Ends an upload, behind the file bytes (16 bytes).
inline constexpr std::string_view kClosingDelimiter = "\r\n----AaB03x--\r\n";
inline constexpr std::string_view kContentTypeHeader =
    "Content-Type: multipart/form-data; boundary=--AaB03x";

// One exchange buffer: request bodies and answers are limited to this many
// bytes including a terminating NUL, so an answer keeps at most
// kAnswerBufferSize - 1 bytes.
inline constexpr std::size_t kAnswerBufferSize = 1048576;
inline constexpr std::size_t kMaxAnswerBytes = kAnswerBufferSize - 1;

// Capacities of text forms, in characters with the terminator: small
// requests (action and credentials) and large ones (cover page, address book).
inline constexpr std::size_t kSmallFormCapacity = 771;
inline constexpr std::size_t kLargeFormCapacity = 524288;

// Limits of the fax exchange's encoded values, in bytes.
inline constexpr std::size_t kMaxAnsiBytes = 1023;
inline constexpr std::size_t kMaxCoverTextBytes = 5997;

// Whether a text or byte value carries the delimiter.
bool CarriesDelimiter(std::u16string_view value);
bool CarriesDelimiter(std::string_view bytes);

// The text form of the text exchange: a body of wide text, at most
// capacity - 1 characters long.
class MultipartForm {
  public:
    explicit MultipartForm(std::size_t capacity = kSmallFormCapacity) : capacity_(capacity) {}

    // Appends the part "----AaB03x\r\nContent-Disposition: form-data;
    // name=\"<name>\"\r\n\r\n<value>\r\n" when the name and the value are
    // both non-empty, the room left (capacity - length) is greater than
    // their lengths together, and the whole part fits behind the body with
    // room for the terminator. Otherwise nothing happens: the request goes
    // out without that field. Parts keep their order.
    void add(std::u16string_view name, std::u16string_view value);

    const std::u16string& body() const { return body_; }
    std::size_t capacity() const { return capacity_; }
    // True once a part carrying the delimiter was added; such a form is never sent.
    bool carriesDelimiter() const { return carriesDelimiter_; }

  private:
    std::size_t capacity_;
    std::u16string body_;
    bool carriesDelimiter_ = false;
};

// Value encodings of the fax exchange.
// Windows-1252 (characters without a byte become '?'), cut to 1,023 bytes.
std::string ToAnsi(std::u16string_view text);
// One byte per UTF-16 unit: its low 8 bits (numbers and names of
// destinations), up to the first unit whose low byte is 0 (a NUL ends a
// value on the wire).
std::string LowBytes(std::u16string_view text);
// UTF-8, cut to at most 5,997 bytes at a character boundary (the cover text).
std::string CoverTextUtf8(std::u16string_view text);

// The bytes FaxForm::add appends for a name and a value of these lengths.
inline constexpr std::size_t FaxFormPartBytes(std::size_t nameBytes, std::size_t valueBytes) {
    return kDelimiter.size() + std::string_view("\r\nContent-Disposition: form-data; name=\"").size() +
           nameBytes + std::string_view("\"\r\n\r\n").size() + valueBytes + 2;
}

// The narrow body of the fax exchange, built part by part from values that
// are already in their wire encoding. Every part is written, an empty value
// included. A body that would not fit in one exchange buffer (1,048,575
// bytes) is marked too large and is never sent.
class FaxForm {
  public:
    // "----AaB03x\r\nContent-Disposition: form-data; name=\"<name>\"\r\n\r\n<value>\r\n"
    // The value ends at its first NUL; CR and LF in it become spaces.
    void add(std::string_view name, std::string_view value);
    // The cover text's part, preceded by an extra CR LF.
    void addCoverPage(std::string_view utf8Text);
    // The header of the file part; the upload streams the file behind it.
    void addDocumentHeader();

    const std::string& bytes() const { return bytes_; }
    bool carriesDelimiter() const { return carriesDelimiter_; }
    bool tooLarge() const { return tooLarge_; }

  private:
    void append(std::string_view part);

    std::string bytes_;
    bool carriesDelimiter_ = false;
    bool tooLarge_ = false;
};

}  // namespace miravo
