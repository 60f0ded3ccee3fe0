// A fax sent to miravo-server and recorded in the journal as the send
// worker records it, then left while its destinations are under way.
#pragma once

#include "app/Text.h"
#include "journal/Journal.h"
#include "tests/server/ServerHarness.h"

namespace miravo::test {

inline std::int64_t SendAndLeave(Journal& journal, const AppSettings& settings,
                                 const std::filesystem::path& document,
                                 const std::vector<std::u16string>& numbers,
                                 std::int64_t sentAt = JournalNow()) {
    writeBytes(document, server::test::faxDocument());
    AppState send;
    send.settings = settings;
    send.job.documentPath = fromUtf8(document.string());
    JournalSend record;
    record.sentAt = sentAt;
    record.title = u"Letter";
    record.pages = 1;
    for (const std::u16string& n : numbers) {
        Recipient r;
        r.kind = Single;
        r.number = n;
        send.job.recipients.push_back(r);
        record.destinations.push_back({n, u"", u"", u"", 0, false, 0});
    }
    SilentWorkerReport quiet;
    SendTiming noPause;
    noPause.sleep = [](std::uint32_t) {};
    EXPECT_TRUE(RunFaxStep(send, quiet, FaxStep::Authenticate, noPause).ok);
    EXPECT_TRUE(RunFaxStep(send, quiet, FaxStep::Transfer, noPause).ok);
    record.faxId = send.job.send.faxId;
    for (JournalDestination& d : record.destinations)
        d.faxId = record.faxId;  // each row carries the fax that took it
    return journal.recordTransfer(record);
}

}  // namespace miravo::test
