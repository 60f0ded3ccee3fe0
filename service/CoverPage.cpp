#include "service/CoverPage.h"

#include <fstream>

#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "convert/FaxTiff.h"
#include "convert/JobFile.h"
#include "service/ResultReader.h"
#include "service/ServiceTexts.h"
#include "service/Transport.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr std::size_t kCoverFileWidth = 260;

// Writes the answer; the number of bytes written.
std::size_t writeAnswer(const std::u16string& path, const std::string& bytes) {
    if (path.empty())
        return 0;
    std::ofstream out(ToFsPath(path), std::ios::binary | std::ios::trunc);
    if (!out)
        return 0;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out.good() ? bytes.size() : 0;
}

void removeFile(const std::u16string& path) {
    std::error_code ec;
    if (!path.empty())
        std::filesystem::remove(ToFsPath(path), ec);
}

}  // namespace

std::u16string CoverPageFilePath() {
    const std::u16string path = CacheFolder() + u"/coverpage.tiff";
    return path.size() < kCoverFileWidth ? path : std::u16string();
}

std::u16string CoverDocumentFilePath() {
    return fitField(CacheFolder() + u"/coverpage_and_fax.tiff", kPathWidth);
}

MultipartForm CoverPageForm(const AppState& state) {
    MultipartForm form(kLargeFormCapacity);
    form.add(u"action", u"convert");
    form.add(u"username", state.settings.userName);
    form.add(u"password", state.settings.password);
    const long long pages = static_cast<long long>(PageCountFromName(state.job.documentPath)) + 1;
    form.add(u"pagecount", fitField(u16(std::to_string(pages)), 10));
    int k = 0;
    auto pair = [&](const std::u16string& number, const std::u16string& name) {
        ++k;
        form.add(u16("numbers[" + std::to_string(k) + "]"), number);
        form.add(u16("names[" + std::to_string(k) + "]"), name);
    };
    for (const Recipient& r : state.job.recipients) {
        if (r.kind == Single) {
            pair(r.number, r.name);
        } else {
            for (const std::u16string& member : r.members)
                pair(member, r.groupname);
        }
    }
    // Cut as the transfer cuts it: the preview shows the page the fax carries.
    form.add(u"coverpage", fromUtf8(CoverTextUtf8(state.job.coverText)));
    return form;
}

int CoverPageTask(AppPaths& paths, WorkerReport& report) {
    if (!paths.state)
        return 0;
    AppState& state = *paths.state;
    const LanguageTable& language = state.language;
    const std::u16string coverFile = CoverPageFilePath();
    state.job.coverDocumentPath = CoverDocumentFilePath();

    const MultipartForm form = CoverPageForm(state);
    report.setTitle(GetText(language, text::kCoverTitle));
    report.setLabel(controlid::kStatusLine, GetText(language, text::kCreatingCoverPage));
    ExchangeLimits limits;
    limits.cancelled = [&report] { return !report.isOpen(); };
    const ExchangeResult exchange = PostForm(state.settings, form, limits);
    if (exchange.outcome == Outcome::Cancelled)
        return 0;  // the dialog is gone: the cover text stays as the user left it

    const std::size_t written = writeAnswer(coverFile, exchange.answer);
    removeFile(state.job.coverDocumentPath);
    if (exchange.answer.compare(0, 3, "II*") == 0 && written > 0) {
        report.setLabel(controlid::kStatusLine, GetText(language, text::kJoiningCoverPage));
        // A join that fails leaves no file: the preview then finds none.
        JoinFaxTiffs({ToFsPath(coverFile), ToFsPath(state.job.documentPath)},
                     ToFsPath(state.job.coverDocumentPath));
        report.close(0);
    } else if (exchange.outcome == Outcome::Refused) {
        // Not sent: the text (or a name) carries the form delimiter.
        report.setLabel(controlid::kStatusLine, GetText(language, text::kInvalidValue));
    } else {
        std::string_view stored = exchange.answer;
        if (const auto nul = stored.find('\0'); nul != std::string_view::npos)
            stored = stored.substr(0, nul);
        StoreAnswer(stored);
        std::u16string error;
        if (const auto answer = ApiAnswer::parse(stored))
            answer->value(u"API_RESULT/ERROR", error, kNameWidth, 0);
        std::int32_t code = error.empty() ? 0 : static_cast<std::int32_t>(parseDecimal(error));
        if (written == 0) {
            code = text::kNoUsableAnswer;
            state.job.coverText.clear();
        }
        report.setLabel(controlid::kStatusLine, ErrorText(language, code));
    }
    removeFile(coverFile);
    return 0;
}

}  // namespace miravo
