#include "journal/JournalCsv.h"

#include <fmt/format.h>

#include <ctime>

#include "app/Text.h"

namespace miravo {

namespace {

void field(std::string& out, const std::string& value, bool last = false) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) {
        out += value;
    } else {
        out += '"';
        for (char c : value) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    out += last ? "\r\n" : ",";
}

std::string money(double amount) {
    return fmt::format("{:.2f}", amount);
}

}  // namespace

std::string JournalTimeText(std::int64_t seconds) {
    if (seconds == 0)
        return {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string JournalCsv(const std::vector<JournalSend>& sends) {
    std::string out =
        "record,sent,document,pages,cover_page,report,fax_id,estimated_cost,total_cost,"
        "number,name,status_code,status,cost,final,last_checked\r\n";
    for (const JournalSend& s : sends) {
        for (const JournalDestination& d : s.destinations) {
            field(out, std::to_string(s.id));
            field(out, JournalTimeText(s.sentAt));
            field(out, toUtf8(s.title));
            field(out, std::to_string(s.pages));
            field(out, s.cover ? "yes" : "no");
            field(out, toUtf8(s.reportOptions));
            field(out, toUtf8(s.faxId));
            field(out, money(s.estimatedCost));
            field(out, money(s.totalCost));
            field(out, toUtf8(d.number));
            field(out, toUtf8(d.name));
            field(out, toUtf8(d.statusCode));
            field(out, toUtf8(d.statusText));
            field(out, money(d.cost));
            field(out, d.final ? "yes" : "no");
            field(out, JournalTimeText(d.lastChecked), true);
        }
    }
    return out;
}

}  // namespace miravo
