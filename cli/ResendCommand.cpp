#include "cli/ResendCommand.h"

#include <algorithm>

#include "app/CommandLine.h"
#include "app/Text.h"
#include "cli/RecordArgument.h"
#include "journal/SentDocuments.h"

namespace miravo::cli {

bool IsResendCommand(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--resend") != args.end();
}

bool ResendArguments(const std::vector<std::string>& args, SendArguments& out, std::string& error) {
    // The resend's own options are taken out; the rest is a send's
    // command line, completed below from the record.
    CommandLine line("miravo-send");
    std::string record;
    bool failedOnly = false;
    line.app.add_option("--resend", record);
    line.app.add_flag("--failed", failedOnly);
    line.app.allow_extras();
    if (!line.parse(args, error))
        return false;
    std::vector<std::string> rest = line.app.remaining();
    const auto given = [&rest](const std::string& option) {
        return std::any_of(rest.begin(), rest.end(), [&option](const std::string& a) {
            return a == option || a.rfind(option + "=", 0) == 0;
        });
    };
    const bool destinationsGiven = given("--to") || given("--list");
    const bool coverGiven = given("--cover");
    const bool reportGiven = given("--report");
    Journal journal;
    if (!journal.isOpen()) {
        error = "the sent-fax journal " + journal.path().string() + " cannot be opened";
        return false;
    }
    const std::int64_t id = ResolveRecord(journal, record, error);
    if (id == 0)
        return false;
    const JournalSend send = *journal.send(id);
    if (journal.keeping(id).document != KeptDocument::Kept) {
        error = "the document of record " + record + " is no longer kept";
        return false;
    }
    if (!destinationsGiven) {
        std::size_t chosen = 0;
        for (const JournalDestination& d : send.destinations) {
            if (failedOnly && !(d.final && d.statusCode != u"OK"))
                continue;
            rest.push_back("--to");
            rest.push_back(toUtf8(d.number) + (d.name.empty() ? "" : ":" + toUtf8(d.name)));
            ++chosen;
        }
        if (chosen == 0) {
            error = "no destination of record " + std::to_string(id) + " failed";
            return false;
        }
    }
    if (!coverGiven && send.cover) {
        rest.push_back("--cover");
        rest.push_back(toUtf8(KeptCoverText(journal, id)));
    }
    if (!reportGiven) {
        rest.push_back("--report");
        rest.push_back(send.reportOptions == u"YES" ? "yes"
                       : send.reportOptions == u"NO" ? "no"
                                                     : "none");
    }
    rest.push_back(KeptDocumentPath(journal, id).string());
    if (!ParseSendArguments(rest, out, error))
        return false;
    // The record is sent again as it was kept: no document beside it.
    if (!out.moreInputs.empty()) {
        error = "a record is sent again with its own document only";
        return false;
    }
    out.repeats = id;
    out.title = send.title;
    return true;
}

}  // namespace miravo::cli
