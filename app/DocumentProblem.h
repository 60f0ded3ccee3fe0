// Why a document the user gave did not become a fax document, as a reason
// the program can word for the user: the document's name, what is wrong
// and what to do, in the user's language. What a library said about it
// travels beside it as details, never as the message.
#pragma once

#include <string>
#include <string_view>

namespace miravo {

class LanguageTable;

// The most pages a printed document may have.
inline constexpr int kPrintedPageLimit = 1000;

enum class DocumentProblem {
    None,
    Unreadable,       // cannot be opened or is no regular file
    UnknownKind,      // not a PDF, PostScript or image file
    NeedsPassword,    // a PDF that opens only with a password, none given
    WrongPassword,    // the password given does not open it
    Damaged,          // the renderer or the conversion cannot read it
    ImageUnreadable,  // an image the image library cannot decode
    NoPage,           // it draws no page
    TooManyPages,     // more pages than a printed document may have
    TooLarge,         // its pages take more than the page files may
    TooSlow,          // rendering took longer than allowed
    Cancelled,        // the user stopped it: nothing to tell
    NotWritten,       // our own files could not be written
    Unprotected,      // the renderer could not be confined: the document was not read
};

// A password problem: the desktop asks for one and the command line reads one.
inline bool IsPasswordProblem(DocumentProblem problem) {
    return problem == DocumentProblem::NeedsPassword || problem == DocumentProblem::WrongPassword;
}

// The message for the document called `name` (its file name as the user
// knows it); empty for None and Cancelled. An image that cannot be read at
// its page `page` (from 1; 0 when no page is known) names that page.
std::u16string DocumentProblemText(const LanguageTable& language, DocumentProblem problem,
                                   std::u16string_view name, int page = 0);

// The same reason in a few English words, for the print tools' own output.
const char* DocumentProblemReason(DocumentProblem problem);

}  // namespace miravo
