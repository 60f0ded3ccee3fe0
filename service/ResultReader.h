// Reading the service's answers: single values out of an XML answer by
// element path ("API_RESULT/TRANSFER/FAX_ID": element names separated by
// '/', the first one the root element; matches counted from 0 in document
// order; a value is the whole text of the element, that is all the text
// inside it, unchanged).
//
// An answer file is parsed once: ReadXmlValue keeps the parsed answer of
// the file it read last, keyed by the file's identity (device, inode, size,
// modification and change times), and parses again as soon as the file at
// that path is another one or has changed. A file changed within the last
// 100 ms is also compared byte for byte with what was parsed, since file
// times move in ticks and an in-place rewrite within one tick keeps them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace miravo {

// One parsed answer. Safe to read from several threads at once.
class ApiAnswer {
  public:
    // Null when the bytes are not a well-formed XML document.
    static std::shared_ptr<const ApiAnswer> parse(std::string_view bytes);

    // The number of elements matching the path.
    unsigned count(std::u16string_view elementPath) const;

    // Clears `out`; when at least index + 1 elements match and the one at
    // `index` has a non-empty text, puts that text into `out` (at most
    // capacity - 1 UTF-16 units, never half a surrogate pair) and returns
    // the number of matching elements. Returns 0 otherwise.
    unsigned value(std::u16string_view elementPath, std::u16string& out, std::size_t capacity,
                   unsigned index) const;

    // Calls `use` for every element matching `parentPath`, in document
    // order, with the texts of its first children named `childNames` (in
    // that order; empty when a child is missing), each cut like value(),
    // until `use` returns false. Reads many records of one answer at the
    // cost of one walk over them, holding one record at a time.
    void forEachRecord(std::u16string_view parentPath,
                       const std::vector<std::u16string_view>& childNames, std::size_t capacity,
                       const std::function<bool(std::vector<std::u16string>& fields)>& use) const;

    ~ApiAnswer();
    ApiAnswer(const ApiAnswer&) = delete;
    ApiAnswer& operator=(const ApiAnswer&) = delete;

  private:
    struct Impl;
    explicit ApiAnswer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The parsed answer in a file; null when the file is missing, unreadable,
// larger than 64 MiB or not well-formed XML. Reuses the last parse while
// the file is the same.
std::shared_ptr<const ApiAnswer> LoadAnswer(std::u16string_view filePath);

// ApiAnswer::value over the file's answer; 0 and an empty `out` when the
// file cannot be loaded.
unsigned ReadXmlValue(std::u16string_view filePath, std::u16string_view elementPath,
                      std::u16string& out, std::size_t capacity, unsigned index);

}  // namespace miravo
