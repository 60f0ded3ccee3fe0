#include "contacts/TextDecoding.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include "app/Text.h"

namespace miravo {

namespace {

enum class Utf16 { None, LittleEndian, BigEndian };

Utf16 utf16Order(std::string_view bytes) {
    if (bytes.size() < 2)
        return Utf16::None;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (byte(0) == 0xFF && byte(1) == 0xFE)
        return Utf16::LittleEndian;
    if (byte(0) == 0xFE && byte(1) == 0xFF)
        return Utf16::BigEndian;
    if (bytes.find('\0') == std::string_view::npos)
        return Utf16::None;
    const std::size_t units = bytes.size() / 2;
    std::size_t zeroHigh = 0;  // little-endian units below 256
    std::size_t zeroLow = 0;   // big-endian units below 256
    for (std::size_t i = 0; i < units; ++i) {
        const unsigned lo = byte(2 * i);
        const unsigned hi = byte(2 * i + 1);
        if (hi == 0 && lo != 0) {
            ++zeroHigh;
            if (lo == '\n' || lo == '\r')
                return Utf16::LittleEndian;
        }
        if (lo == 0 && hi != 0) {
            ++zeroLow;
            if (hi == '\n' || hi == '\r')
                return Utf16::BigEndian;
        }
    }
    if (2 * zeroHigh >= units)
        return Utf16::LittleEndian;
    if (2 * zeroLow >= units)
        return Utf16::BigEndian;
    return Utf16::None;
}

}  // namespace

bool LooksLikeUtf16(std::string_view bytes) {
    return utf16Order(bytes) != Utf16::None;
}

std::u16string DecodeText(std::string_view bytes) {
    const Utf16 order = utf16Order(bytes);
    if (order != Utf16::None) {
        // The decoder drops the leading byte-order mark.
        QStringDecoder decoder(order == Utf16::LittleEndian ? QStringConverter::Utf16LE
                                                            : QStringConverter::Utf16BE);
        return QString(decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size()))))
            .toStdU16String();
    }
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return fromLocal8Bit(bytes);
}

}  // namespace miravo
