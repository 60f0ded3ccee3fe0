// The service's answers: the reader by element path, the address-book
// merge and the status reading.
#include "app/AppState.h"
#include "app/WorkerReport.h"
#include "contacts/AddressBookSync.h"
#include "service/ResultReader.h"
#include "service/StatusPolling.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace miravo;
    const std::string_view bytes = fuzz::Bytes(data, size);
    const auto answer = ApiAnswer::parse(bytes);
    if (answer) {
        std::u16string out;
        for (const char16_t* path : {u"API_RESULT/ERROR", u"API_RESULT/TRANSFER/FAX_ID",
                                     u"API_RESULT/GET_FAX_STATUS/FAX", u"API_RESULT"}) {
            const unsigned n = answer->count(path);
            answer->value(path, out, 260, n > 0 ? n - 1 : 0);
        }
        answer->forEachRecord(u"API_RESULT/GET_FAX_STATUS/FAX", {u"STATUS", u"FAX_ID"}, 3,
                              [](std::vector<std::u16string>&) { return true; });
    }
    ContactBook book;
    MergeAddressBook(book, bytes);

    AppState state;
    state.job.send.faxId = u"77";
    SilentWorkerReport report;
    StepOutcome outcome;
    ReadStatusAnswer(state, report, answer.get(), outcome);
    return 0;
}
