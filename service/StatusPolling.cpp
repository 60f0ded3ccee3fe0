#include "service/StatusPolling.h"

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "service/ServiceTexts.h"

namespace miravo {

namespace {

constexpr std::u16string_view kFaxPath = u"API_RESULT/GET_FAX_STATUS/FAX";
constexpr int kTextCurrency = 32;
constexpr int kTextMassFax = 117;

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
        ShowNoUsableAnswer(state, report, kLabelAuthentication);
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
    const unsigned records = answer->count(kFaxPath);
    std::u16string recordId;
    for (unsigned record = 0, i = 0; record < records && i < n; ++record) {
        if (answer->childValue(kFaxPath, record, u"FAX_ID", recordId, 1024) == 0)
            continue;  // a record without a FAX_ID names no destination
        DestinationStatus d;
        answer->childValue(kFaxPath, record, u"RECIPIENT", d.recipient, kNameWidth);
        answer->childValue(kFaxPath, record, u"COST", d.cost, kNameWidth);
        answer->childValue(kFaxPath, record, u"STATUS", d.status, kNameWidth);
        send.recipient = d.recipient;
        send.cost = d.cost;
        send.status = d.status;
        total += DecimalValue(d.cost);
        if (open && i < static_cast<unsigned>(kStatusRows) && report.isOpen()) {
            const int row = static_cast<int>(i);
            if (state.job.massFaxOn) {
                report.setLabel(kLabelRecipient, GetText(state.language, kTextMassFax));
                report.setLabel(kLabelStatus, FaxStatusText(state.language, u""));
            } else {
                report.setLabel(kLabelRecipient + row, d.recipient);
                report.setLabel(kLabelStatus + row, FaxStatusText(state.language, d.status));
            }
        }
        if (d.status.empty())
            pending = true;
        outcome.destinations.push_back(std::move(d));
        ++i;
    }
    outcome.totalCost = total;
    if (report.isOpen()) {
        report.setLabel(kLabelTotalCost, MoneyText(total, GetText(state.language, kTextCurrency)));
        if (!pending)
            report.setLabel(kLabelActivity, u"");
    }
    send.errorCode = pending ? -1 : 0;
    if (send.errorCode == 0 && report.isOpen())
        report.setPolling(false);
    return send.errorCode == 0;
}

}  // namespace miravo
