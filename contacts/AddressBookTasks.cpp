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
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr std::u16string_view kResultPath = u"API_RESULT/GET_ADDRESS_BOOK/RESULT";

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

    report.setTitle(GetText(language, text::kSyncingContacts));

    if (!form)
        return RefuseTaskRequest(language, report, controlid::kStatusLine, text::kRequestTooLarge,
                                 answer);
    return PostTaskForm(*state, report, controlid::kStatusLine, *form, kResultPath, answer);
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
    outcome.saved = book.save(&outcome.keptAside);
    return outcome;
}

}  // namespace miravo
