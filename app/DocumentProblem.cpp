#include "app/DocumentProblem.h"

#include "app/LanguageTable.h"
#include "app/TextIds.h"

namespace miravo {

std::u16string DocumentProblemText(const LanguageTable& language, DocumentProblem problem,
                                   std::u16string_view name, int page) {
    const std::u16string document(name);
    switch (problem) {
        case DocumentProblem::None:
        case DocumentProblem::Cancelled:
            return {};
        case DocumentProblem::Unreadable:
            return GetText(language, text::kDocumentUnreadable, document);
        case DocumentProblem::UnknownKind:
            return GetText(language, text::kDocumentNotConverted, document) + u"\n" +
                   GetText(language, text::kSendableDocuments);
        case DocumentProblem::NeedsPassword:
            return GetText(language, text::kPdfNeedsPassword, document);
        case DocumentProblem::WrongPassword:
            return GetText(language, text::kPasswordDoesNotOpen, document);
        case DocumentProblem::Damaged:
            return GetText(language, text::kDocumentDamaged, document);
        case DocumentProblem::ImageUnreadable:
            // Its kind of file is not the trouble when one of its pages is.
            if (page > 0)
                return GetText(language, text::kImagePageUnreadable, document, page);
            return GetText(language, text::kImageUnreadable, document);
        case DocumentProblem::NoPage:
            return GetText(language, text::kDocumentNoPage, document);
        case DocumentProblem::TooManyPages:
            return GetText(language, text::kDocumentTooManyPages, document, kPrintedPageLimit);
        case DocumentProblem::TooLarge:
            return GetText(language, text::kDocumentTooLarge, document);
        case DocumentProblem::TooSlow:
            return GetText(language, text::kDocumentTooSlow, document);
        case DocumentProblem::NotWritten:
            return GetText(language, text::kDocumentNotWritten, document);
        case DocumentProblem::Unprotected:
            return GetText(language, text::kRendererUnprotected, document);
    }
    return {};
}

const char* DocumentProblemReason(DocumentProblem problem) {
    switch (problem) {
        case DocumentProblem::None:
            return "";
        case DocumentProblem::Unreadable:
            return "cannot be read";
        case DocumentProblem::UnknownKind:
            return "not a PDF, PostScript, PNG, JPEG or TIFF file";
        case DocumentProblem::NeedsPassword:
            return "the PDF needs a password";
        case DocumentProblem::WrongPassword:
            return "the password does not open the PDF";
        case DocumentProblem::Damaged:
            return "the document is damaged or incomplete";
        case DocumentProblem::ImageUnreadable:
            return "the image is damaged or in a form that cannot be read";
        case DocumentProblem::NoPage:
            return "the document has no page to print";
        case DocumentProblem::TooManyPages:
            return "the document has more than 1000 pages: the Miravo printer stops there";
        case DocumentProblem::TooLarge:
            return "the document's pages take more than 1 GiB: the Miravo printer stops there";
        case DocumentProblem::TooSlow:
            return "rendering took too long: the Miravo printer stops there";
        case DocumentProblem::Cancelled:
            return "the job was cancelled";
        case DocumentProblem::NotWritten:
            return "the page files cannot be written";
        case DocumentProblem::Unprotected:
            return "the system's protection of the renderer could not be set up, so the "
                   "document was not opened";
    }
    return "";
}

}  // namespace miravo
