// How miravo-render ends, so that the print monitor can tell the user why
// a document gave no pages: each status but kRenderDone comes with a line
// of report on its standard output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/AppSettings.h"
#include "app/DocumentProblem.h"

namespace miravo::print {

inline constexpr int kRenderDone = 0;
inline constexpr int kRenderFailed = 1;         // unreadable or damaged
inline constexpr int kRenderNeedsPassword = 3;  // no password given, or not the right one
inline constexpr int kRenderTooManyPages = 4;   // more than kMaxPages
inline constexpr int kRenderTooLarge = 5;       // page files beyond kMaxPageFileBytes
inline constexpr int kRenderUnprotected = 6;    // its box could not be set up: nothing was read

// The conversion method as the renderer takes it on its command line.
inline const char* MethodArgument(ConversionMethod method) {
    switch (method) {
        case ConversionMethod::Dithering:
            return "dithering";
        case ConversionMethod::Automatic:
            return "automatic";
        case ConversionMethod::Threshold:
            break;
    }
    return "threshold";
}
inline std::optional<ConversionMethod> MethodFromArgument(std::string_view text) {
    for (ConversionMethod method : {ConversionMethod::Threshold, ConversionMethod::Dithering,
                                    ConversionMethod::Automatic})
        if (text == MethodArgument(method))
            return method;
    return std::nullopt;
}

// The reason a renderer's exit status stands for.
inline DocumentProblem RenderProblem(int status) {
    switch (status) {
        case kRenderNeedsPassword:
            return DocumentProblem::NeedsPassword;
        case kRenderTooManyPages:
            return DocumentProblem::TooManyPages;
        case kRenderTooLarge:
            return DocumentProblem::TooLarge;
        case kRenderUnprotected:
            return DocumentProblem::Unprotected;
        default:
            return DocumentProblem::Damaged;
    }
}

// The renderer's report without the document's path that leads it: what
// is left is the library's own words, fit for a details line.
inline std::string ReportDetails(const std::string& report, const std::string& input) {
    const std::string lead = input + ": ";
    return report.compare(0, lead.size(), lead) == 0 ? report.substr(lead.size()) : report;
}

}  // namespace miravo::print
