// The language texts of the dialogs: which text id goes on which control
// for each dialog kind, the two formatted sentences of the send dialog, the
// logo file of a language and where the header logo is drawn. All of it is
// plain data and pure functions; the dialogs only set and paint.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppSettings.h"

namespace miravo {

class LanguageTable;

// Stands for the dialog's caption in a binding.
inline constexpr int kTitleControl = -1;

// Dialog kinds, as the dialogs pass them.
inline constexpr int kSendDialogTexts = 1;    // dialog 104
inline constexpr int kCredentialsTexts = 2;   // dialog 107
inline constexpr int kOptionsTexts = 3;       // dialog 106
inline constexpr int kStatusWindowTexts = 5;  // dialog 103
inline constexpr int kAccountTexts = 6;       // dialog 109
inline constexpr int kContactBookTexts = 7;   // dialog 112
inline constexpr int kAddContactTexts = 8;    // dialog 111
inline constexpr int kMassFaxListTexts = 9;   // dialog 113
inline constexpr int kCsvImportTexts = 10;    // dialog 114

enum class TextUse {
    Plain,             // the text as it stands
    MethodSentence,    // MethodSentence()
    DocumentSentence,  // DocumentSentence()
};

struct DialogTextBinding {
    int control;  // control id, or kTitleControl
    int text;     // language text id
    TextUse use = TextUse::Plain;
};

// The bindings of one dialog kind in the order they are applied (the send
// dialog's two sentences come last); empty for kinds without texts.
std::span<const DialogTextBinding> DialogTextBindings(int kind);

// Text 54 over the method in use (text 55 when dithering, else 56), the
// character code 32, the other method and the character code 10; at most
// 770 characters, each method name at most 259.
std::u16string MethodSentence(const LanguageTable& table, bool dithering);
// The same for any method: the automatic one is named by its own text and
// offers the threshold as the other.
std::u16string MethodSentence(const LanguageTable& table, ConversionMethod method);

// The document's name as the send dialog shows it: the job file path after
// its last '/', up to "__ps__" when that follows; a path without '/' (or an
// empty one) as it is.
std::u16string DocumentName(std::u16string_view jobFilePath);

// Text 19 over DocumentName(jobFilePath); at most 770 characters.
std::u16string DocumentSentence(const LanguageTable& table, const std::u16string& jobFilePath);

struct ResolvedText {
    int control;
    std::u16string text;
};

// Every text of a dialog kind, looked up and formatted, in binding order.
// Controls whose text comes out empty (no language loaded, a text missing
// from the file) are left out, so they keep their template captions.
std::vector<ResolvedText> ResolveDialogTexts(const LanguageTable& table, int kind, bool dithering,
                                             const std::u16string& jobFilePath);
std::vector<ResolvedText> ResolveDialogTexts(const LanguageTable& table, int kind,
                                             ConversionMethod method,
                                             const std::u16string& jobFilePath);

// The logo of a language: `logoPath` with its file name (after the last
// '/', or the whole path when it holds none) replaced by "<code>_logo.gif".
// Empty when the code could leave the logo's folder (it holds '/' or NUL,
// or is "." or "..").
std::u16string LogoFileFor(const std::u16string& logoPath, const std::u16string& languageCode);

struct LogoRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool operator==(const LogoRect&) const = default;
};

// Where the header logo is drawn inside the owner-drawn strip. The item
// rectangle is given with right and bottom one past its last pixel (QRect:
// x, y, x + width, y + height). The logo keeps its aspect, sits one pixel
// in from the top left, and fills the strip's width, or its height when it
// would be too tall; the height carries two extra pixels. An empty image or
// strip gives an empty rectangle: nothing is drawn.
LogoRect HeaderLogoRect(int itemLeft, int itemTop, int itemRight, int itemBottom, int imageWidth,
                        int imageHeight);

}  // namespace miravo
