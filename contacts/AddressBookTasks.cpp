#include "contacts/AddressBookTasks.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "contacts/AddressBookSync.h"
#include "service/MultipartForm.h"
#include "service/ResultReader.h"
#include "service/ServiceTexts.h"
#include "service/Transport.h"

namespace miravo {

namespace {

constexpr std::u16string_view kResultPath = u"API_RESULT/GET_ADDRESS_BOOK/RESULT";
constexpr std::u16string_view kErrorPath = u"API_RESULT/ERROR";
constexpr std::size_t kVerdictRoom = 260;

// Status texts of requests that were not sent, and of a missing answer.
constexpr int kTooLargeText = 77;
constexpr int kInvalidValueText = 79;
constexpr int kNoAnswerCode = 999;

enum class SyncAction { Fetch, Update };

// The form of the fields, or nothing when one of them would not fit: a
// request without some of its fields must not go out, since the merge of
// its answer would drop the changes it left behind.
std::optional<MultipartForm> buildForm(const std::vector<FormField>& fields, std::size_t capacity) {
    MultipartForm form(capacity);
    for (const FormField& field : fields) {
        const std::size_t before = form.body().size();
        form.add(field.name, field.value);
        if (form.body().size() == before)
            return std::nullopt;
    }
    return form;
}

// The generic check of an answer, over the bytes the task received rather
// than over the file they were stored in: RESULT exactly "0" is success,
// otherwise API_RESULT/ERROR gives the code. An answer that is no XML, or
// names no error, shows as "no usable answer" instead of "OK".
ApiResult checkAnswer(const LanguageTable& language, const std::optional<std::string>& bytes) {
    ApiResult result;
    std::shared_ptr<const ApiAnswer> parsed;
    if (bytes)
        parsed = ApiAnswer::parse(std::string_view(*bytes).substr(0, bytes->find('\0')));
    std::u16string text;
    if (parsed) {
        parsed->value(kResultPath, text, kVerdictRoom, 0);
        if (text == u"0")
            result.ok = true;
        else
            parsed->value(kErrorPath, text, kVerdictRoom, 0);
        result.code = static_cast<std::int32_t>(parseDecimal(text));
    }
    if (!result.ok && result.code == 0)
        result.code = kNoAnswerCode;
    result.message = ErrorText(language, result.code);
    return result;
}

int runSync(SyncAction action, AppPaths& paths, WorkerReport& report, AddressBookAnswer& answer) {
    AppState* state = paths.state;
    if (!state) {
        answer.finish(std::nullopt);
        return 0;
    }
    const AppSettings& settings = state->settings;
    const LanguageTable& language = state->language;

    std::optional<MultipartForm> form;
    if (action == SyncAction::Fetch)
        form = buildForm(AddressBookFetchFields(settings.userName, settings.password),
                         kSmallFormCapacity);
    else
        form = buildForm(
            AddressBookUpdateFields(state->contactBook, settings.userName, settings.password),
            kLargeFormCapacity);

    report.setTitle(GetText(language, kSyncTitleText));

    if (!form) {
        answer.finish(std::nullopt);
        report.setLabel(kSyncStatusControl, GetText(language, kTooLargeText));
        return 0;
    }
    if (form->carriesDelimiter()) {
        answer.finish(std::nullopt);
        report.setLabel(kSyncStatusControl, GetText(language, kInvalidValueText));
        return 0;
    }

    ExchangeResult exchange = PostForm(settings, *form);
    if (exchange.outcome == Outcome::Refused) {
        // Too long once encoded: nothing went out.
        answer.finish(std::nullopt);
        report.setLabel(kSyncStatusControl, GetText(language, kTooLargeText));
        return 0;
    }
    // The stored copy is for reading only; the answer itself travels in memory.
    StoreAnswer(exchange.answer);
    std::optional<std::string> bytes;
    if (exchange.answered())
        bytes = std::move(exchange.answer);
    const ApiResult verdict = checkAnswer(language, bytes);
    answer.finish(std::move(bytes));
    report.setLabel(kSyncStatusControl, verdict.message);
    return verdict.ok ? 1 : 0;
}

WorkerTask makeTask(SyncAction action, std::shared_ptr<AddressBookAnswer> answer) {
    if (!answer)
        answer = std::make_shared<AddressBookAnswer>();
    return [action, answer = std::move(answer)](AppPaths& paths, WorkerReport& report) {
        return runSync(action, paths, report, *answer);
    };
}

}  // namespace

bool HasUnsentChanges(const ContactBook& book) {
    for (const Contact& c : book.contacts) {
        if (c.kind == Single && c.state != Synced)
            return true;
    }
    return false;
}

WorkerTask fetchAddressBookTask(std::shared_ptr<AddressBookAnswer> answer) {
    return makeTask(SyncAction::Fetch, std::move(answer));
}

WorkerTask updateAddressBookTask(std::shared_ptr<AddressBookAnswer> answer) {
    return makeTask(SyncAction::Update, std::move(answer));
}

WorkerTask chooseSyncTask(const ContactBook& book, std::shared_ptr<AddressBookAnswer> answer) {
    if (book.modified || HasUnsentChanges(book))
        return updateAddressBookTask(std::move(answer));
    return fetchAddressBookTask(std::move(answer));
}

SyncMergeOutcome mergeAddressBookAnswer(AppPaths& paths, const AddressBookAnswer& answer) {
    SyncMergeOutcome outcome;
    if (!paths.state)
        return outcome;
    ContactBook& book = paths.state->contactBook;
    if (const std::optional<std::string> bytes = answer.answer())
        outcome.replaced = MergeAddressBook(book, *bytes);
    outcome.saved = book.save();
    return outcome;
}

}  // namespace miravo
