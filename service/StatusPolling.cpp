#include "service/StatusPolling.h"

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "service/ServiceTexts.h"
#include "app/TextIds.h"
#include "app/ControlIds.h"

namespace miravo {

namespace {

constexpr std::u16string_view kFaxPath = u"API_RESULT/GET_FAX_STATUS/FAX";

}  // namespace

bool ReadStatusAnswer(AppState& state, WorkerReport& report, const ApiAnswer* answer,
                      StepOutcome& outcome) {
    SendState& send = state.job.send;
    std::u16string text;
    if (answer)
        answer->value(u"API_RESULT/GET_FAX_STATUS/RESULT", text, 1024, 0);
    send.statusOk = parseDecimal(text) == 0;

    // The answer speaks of the fax of its first FAX_ID; every FAX_ID names
    // one destination, and each destination is read child by child from
    // its own FAX record, so that a record lacking one of its elements
    // never takes its neighbour's.
    std::u16string faxId;
    unsigned n = 0;
    if (answer && answer->value(u"API_RESULT/GET_FAX_STATUS/FAX/FAX_ID", faxId, 1024, 0) > 0)
        n = answer->count(u"API_RESULT/GET_FAX_STATUS/FAX/FAX_ID");
    if (n == 0) {
        // Nothing to follow: a next answer would not tell more.
        outcome.namesNoDestination = true;
        ShowNoUsableAnswer(state, report, controlid::kLabelAuthentication);
        if (report.isOpen())
            report.setPolling(false);
        return false;
    }
    if (faxId != send.faxId) {
        send.errorCode = 0;
        if (report.isOpen())
            report.setPolling(false);
        return true;
    }

    outcome.aboutThisFax = true;
    bool pending = false;
    double total = 0;
    const bool open = report.isOpen();
    // Each record read whole: FAX_ID, RECIPIENT, COST, STATUS.
    unsigned i = 0;
    answer->forEachRecord(
        kFaxPath, {u"FAX_ID", u"RECIPIENT", u"COST", u"STATUS"}, kNameWidth,
        [&](std::vector<std::u16string>& fields) {
            if (fields[0].empty())
                return true;  // a record without a FAX_ID names no destination
            DestinationStatus d;
            d.recipient = std::move(fields[1]);
            d.cost = std::move(fields[2]);
            d.status = std::move(fields[3]);
            total += DecimalValue(d.cost);
            if (open && i < static_cast<unsigned>(kStatusRows) && report.isOpen()) {
                const int row = static_cast<int>(i);
                if (state.job.massFaxOn) {
                    report.setLabel(controlid::kLabelRecipient, GetText(state.language, text::kMassFax));
                    report.setLabel(controlid::kLabelStatus, FaxStatusText(state.language, u""));
                } else {
                    report.setLabel(controlid::kLabelRecipient + row, d.recipient);
                    report.setLabel(controlid::kLabelStatus + row, FaxStatusText(state.language, d.status));
                }
            }
            if (d.status.empty())
                pending = true;
            outcome.destinations.push_back(std::move(d));
            return ++i < n;
        });
    if (!outcome.destinations.empty()) {
        const DestinationStatus& last = outcome.destinations.back();
        send.recipient = last.recipient;
        send.cost = last.cost;
        send.status = last.status;
    }
    outcome.totalCost = total;
    if (report.isOpen()) {
        report.setLabel(controlid::kLabelTotalCost, MoneyText(total, GetText(state.language, text::kCurrency)));
        if (!pending)
            report.setLabel(controlid::kStatusLine, u"");
    }
    send.errorCode = pending ? -1 : 0;
    if (send.errorCode == 0 && report.isOpen())
        report.setPolling(false);
    return send.errorCode == 0;
}

}  // namespace miravo
