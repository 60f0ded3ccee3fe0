#include "app/LanguageTable.h"

#include <fmt/args.h>
#include <fmt/printf.h>

#include <filesystem>
#include <optional>

#include "app/ProfileIni.h"
#include "app/Text.h"

namespace miravo {

namespace {

constexpr std::size_t kMaxText = kTextBufferWidth - 1;  // 4095
constexpr std::size_t kMaxName = kNameFieldWidth - 1;   // 84
constexpr long long kMaxWidth = static_cast<long long>(kMaxText);

// Cuts to at most `limit` code units without leaving half a surrogate pair.
std::u16string cutText(std::u16string text, std::size_t limit) {
    if (text.size() > limit) {
        text.resize(limit);
        if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
            text.pop_back();
    }
    return text;
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// A language value as shown: hex form decoded.
std::u16string decoded(std::u16string value) {
    return IsHexForm(value) ? DecodeHexForm(value) : value;
}

// UTF-8 of one code point; empty for NUL, surrogates and values beyond
// Unicode, which no text can show.
std::string codePointUtf8(long long cp) {
    if (cp <= 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {};
    const char32_t c = static_cast<char32_t>(cp);
    std::string out;
    appendUtf8(out, c);
    return out;
}

// Checks a printf-style format against the arguments and rewrites it into a
// format that fmt formats without surprises: every conversion takes the
// next argument of a fresh list in conversion order, already of the type
// its conversion wants (a %s of an integer gets the decimal text, a %c the
// code point's text), '*' widths are written out and length modifiers
// dropped (every integer is a long long here). Anything that does not fit
// rejects the whole format.
class FormatCheck {
  public:
    FormatCheck(std::string_view format, const std::vector<TextArg>& args)
        : in_(format), args_(args) {}

    bool run() {
        while (pos_ < in_.size()) {
            const char c = in_[pos_++];
            if (c != '%') {
                out_.push_back(c);
                continue;
            }
            if (pos_ < in_.size() && in_[pos_] == '%') {
                ++pos_;
                out_ += "%%";
                continue;
            }
            if (!conversion())
                return false;
        }
        return true;
    }

    const std::string& format() const { return out_; }
    fmt::dynamic_format_arg_store<fmt::printf_context>& store() { return store_; }

  private:
    enum class Indexing { Unknown, Sequential, Positional };

    // Reads decimal digits: nothing when there are none, -1 when the number
    // is beyond what any sane format needs (every caller rejects that).
    std::optional<long long> number() {
        if (pos_ >= in_.size() || in_[pos_] < '0' || in_[pos_] > '9')
            return std::nullopt;
        long long value = 0;
        while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9') {
            value = value * 10 + (in_[pos_++] - '0');
            if (value > 1'000'000)
                return -1;
        }
        return value;
    }

    // An explicit "n$" argument position at the current place, if any.
    std::optional<long long> position() {
        const std::size_t start = pos_;
        const auto n = number();
        if (n && pos_ < in_.size() && in_[pos_] == '$') {
            ++pos_;
            return *n;
        }
        pos_ = start;
        return std::nullopt;
    }

    // Takes the argument for one conversion (or '*'); nullptr when the
    // indexing style changes or the argument is missing.
    const TextArg* take(std::optional<long long> explicitPosition) {
        if (explicitPosition) {
            if (indexing_ == Indexing::Sequential)
                return nullptr;
            indexing_ = Indexing::Positional;
            const long long n = *explicitPosition;
            if (n < 1 || n > static_cast<long long>(args_.size()))
                return nullptr;
            return &args_[static_cast<std::size_t>(n - 1)];
        }
        if (indexing_ == Indexing::Positional)
            return nullptr;
        indexing_ = Indexing::Sequential;
        if (next_ >= args_.size())
            return nullptr;
        return &args_[next_++];
    }

    // A '*' width or precision: its integer argument ("*" or "*n$").
    std::optional<long long> starValue() {
        ++pos_;  // the '*'
        const TextArg* arg = take(position());
        if (!arg || arg->kind != TextArg::Kind::Integer)
            return std::nullopt;
        return arg->integer;
    }

    bool conversion() {
        const std::optional<long long> argPosition = position();
        if (argPosition && *argPosition < 1)
            return false;

        std::string flags;
        while (pos_ < in_.size() &&
               std::string_view("-+ #0").find(in_[pos_]) != std::string_view::npos) {
            if (flags.find(in_[pos_]) == std::string::npos)
                flags.push_back(in_[pos_]);
            ++pos_;
        }

        std::optional<long long> width;
        if (pos_ < in_.size() && in_[pos_] == '*') {
            auto w = starValue();
            if (!w || *w < -kMaxWidth || *w > kMaxWidth)
                return false;
            if (*w < 0) {
                if (flags.find('-') == std::string::npos)
                    flags.push_back('-');
                *w = -*w;
            }
            width = w;
        } else {
            width = number();
            if (width && (*width < 0 || *width > kMaxWidth))
                return false;
        }

        std::optional<long long> precision;
        if (pos_ < in_.size() && in_[pos_] == '.') {
            ++pos_;
            if (pos_ < in_.size() && in_[pos_] == '*') {
                auto p = starValue();
                if (!p || *p > kMaxWidth)
                    return false;
                if (*p >= 0)
                    precision = p;  // a negative precision counts as none
            } else {
                precision = number().value_or(0);
                if (*precision < 0 || *precision > kMaxWidth)
                    return false;
            }
        }

        // Length modifiers change nothing here: integers are long long.
        while (pos_ < in_.size() &&
               std::string_view("hljztL").find(in_[pos_]) != std::string_view::npos) {
            ++pos_;
        }
        if (pos_ >= in_.size())
            return false;  // a dangling '%'
        const char type = in_[pos_++];

        const TextArg* arg = take(argPosition);
        if (!arg)
            return false;

        const auto spec = [&](std::string_view keepFlags, bool withPrecision, char conv) {
            std::string s = "%";
            for (char f : flags) {
                if (keepFlags.find(f) != std::string_view::npos)
                    s.push_back(f);
            }
            if (width)
                s += std::to_string(*width);
            if (withPrecision && precision)
                s += "." + std::to_string(*precision);
            s.push_back(conv);
            return s;
        };

        switch (type) {
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                if (arg->kind != TextArg::Kind::Integer)
                    return false;
                out_ += spec("-+ #0", true, type);
                store_.push_back(arg->integer);
                return true;
            case 'c': {
                if (arg->kind != TextArg::Kind::Integer)
                    return false;
                std::string text = codePointUtf8(arg->integer);
                if (text.empty())
                    return false;
                out_ += spec("-", false, 's');
                store_.push_back(std::move(text));
                return true;
            }
            case 's':
                out_ += spec("-", true, 's');
                store_.push_back(arg->kind == TextArg::Kind::Text ? arg->utf8
                                                                  : std::to_string(arg->integer));
                return true;
            default:  // %n, %p, floating point, wide and unknown conversions
                return false;
        }
    }

    std::string_view in_;
    const std::vector<TextArg>& args_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
    Indexing indexing_ = Indexing::Unknown;
    std::string out_;
    fmt::dynamic_format_arg_store<fmt::printf_context> store_;
};

}  // namespace

namespace {

// The formatted text, or nothing when the format does not fit the arguments.
std::optional<std::u16string> tryFormat(std::u16string_view format,
                                        const std::vector<TextArg>& args) {
    if (format.find(u'%') == std::u16string_view::npos)
        return std::u16string(format);
    try {
        const std::string utf8 = toUtf8(format);
        FormatCheck check(utf8, args);
        if (!check.run())
            return std::nullopt;
        return fromUtf8(fmt::vsprintf(fmt::string_view(check.format()), check.store()));
    } catch (...) {
        // fmt::format_error for anything the check let through by mistake,
        // std::bad_alloc: the raw text is still the honest thing to show.
        return std::nullopt;
    }
}

}  // namespace

std::u16string FormatText(std::u16string_view format, const std::vector<TextArg>& args) {
    std::optional<std::u16string> text = tryFormat(format, args);
    return cutText(text ? std::move(*text) : std::u16string(format), kMaxText);
}

bool FormatAccepts(std::u16string_view format, const std::vector<TextArg>& args) {
    return tryFormat(format, args).has_value();
}

bool IsHexForm(std::u16string_view value) {
    for (char16_t c : value) {
        if (hexDigit(c) < 0)
            return false;
    }
    return true;
}

std::u16string DecodeHexForm(std::u16string_view value) {
    if (!IsHexForm(value))
        return std::u16string(value);
    std::u16string out;
    out.reserve(value.size() / 4);
    for (std::size_t i = 0; i + 4 <= value.size(); i += 4) {
        const int low = hexDigit(value[i]) * 16 + hexDigit(value[i + 1]);
        const int high = hexDigit(value[i + 2]) * 16 + hexDigit(value[i + 3]);
        const char16_t unit = static_cast<char16_t>(high << 8 | low);
        if (unit == 0)
            break;
        out.push_back(unit);
    }
    return out;
}

struct LanguageTable::Snapshot {
    std::u16string filePath;
    std::u16string code;
    std::u16string displayName;
    ProfileFile file;
};

LanguageTable::LanguageTable() = default;
LanguageTable::~LanguageTable() = default;

std::shared_ptr<const LanguageTable::Snapshot> LanguageTable::current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

std::u16string LanguageTable::rawText(int id) const {
    const auto snap = current();
    if (!snap)
        return {};
    const std::u16string key = toU16(id);
    std::u16string value = snap->file.getString(snap->code, key, u"", kTextBufferWidth);
    if (value.empty())
        value = snap->file.getString(u"en", key, u"", kTextBufferWidth);
    return decoded(std::move(value));
}

std::u16string LanguageTable::code() const {
    const auto snap = current();
    return snap ? snap->code : std::u16string();
}

std::u16string LanguageTable::displayName() const {
    const auto snap = current();
    return snap ? snap->displayName : std::u16string();
}

std::u16string LanguageTable::filePath() const {
    const auto snap = current();
    return snap ? snap->filePath : std::u16string();
}

bool LanguageTable::loaded() const {
    return current() != nullptr;
}

int LoadLanguage(LanguageTable& table, const std::u16string& filePath, std::u16string_view code) {
    const std::u16string section = code.empty() ? std::u16string(u"en") : std::u16string(code);
    // The code names the section of every later lookup; one that does not
    // fit its field could not be kept whole, so it is refused.
    if (section.size() > kMaxName || filePath.empty())
        return 0;

    auto snap = std::make_shared<LanguageTable::Snapshot>();
    // Texts are looked up in this language, then in English; of the other
    // languages only the names are listed.
    snap->file = ProfileFile::loadPart(std::filesystem::path(filePath), {section, u"en"}, u"lang");
    std::u16string name = snap->file.getString(section, u"lang", u"", kTextBufferWidth);
    if (name.empty())
        name = snap->file.getString(u"en", u"lang", u"", kTextBufferWidth);
    // A longer name (also after decoding) is cut to the field; a name that
    // decodes to nothing cannot be shown in the language list.
    name = cutText(decoded(std::move(name)), kMaxName);
    if (name.empty())
        return 0;

    snap->filePath = filePath;
    snap->code = section;
    snap->displayName = std::move(name);
    std::lock_guard<std::mutex> lock(table.mutex_);
    table.snapshot_ = std::move(snap);
    return 1;
}

int ListLanguage(const LanguageTable& table, int n, std::size_t codeCapacity, std::u16string& code,
                 std::u16string* displayName, std::size_t nameCapacity) {
    const auto snap = table.current();
    if (!snap || n < 1)
        return 0;
    const std::vector<std::u16string> sections = snap->file.sections();
    if (static_cast<std::size_t>(n) > sections.size())
        return 0;
    const std::u16string& name = sections[static_cast<std::size_t>(n) - 1];
    if (displayName) {
        const std::u16string lang = snap->file.getString(name, u"lang", u"", kTextBufferWidth);
        *displayName =
            nameCapacity == 0 ? std::u16string() : cutText(decoded(lang), nameCapacity - 1);
    }
    if (name.size() >= codeCapacity)
        return 0;
    code = name;
    return 1;
}

}  // namespace miravo
