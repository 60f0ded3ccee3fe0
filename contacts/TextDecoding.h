// Text files as other programs write them: UTF-8 with or without its
// byte-order mark, UTF-16 in either byte order with or without one, and
// Windows-1252 where the bytes are not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace miravo {

// Whether a file's bytes hold UTF-16 text: a UTF-16 byte-order mark, or
// zero bytes laid out as UTF-16 lays them (most code units with one zero
// byte, or a line end as a 16-bit unit). Text without zero bytes is never
// taken for UTF-16, however its letters fall.
bool LooksLikeUtf16(std::string_view bytes);

// The text of a file's bytes, without its byte-order mark: UTF-16 (by its
// mark, else by where its zero bytes stand), else UTF-8 when the bytes are
// valid UTF-8, else Windows-1252.
std::u16string DecodeText(std::string_view bytes);

}  // namespace miravo
