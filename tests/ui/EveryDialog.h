// Every window of the program but the send dialog (which its tests open
// in its own variants), each made fresh on demand, for the tests that walk
// all of them in every language. The contact book in it fetches nothing
// from the service when a book is on file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/Paths.h"
#include "ui/AccountDialog.h"
#include "ui/AddContactDialog.h"
#include "ui/ContactBookDialog.h"
#include "ui/ConvertingDialog.h"
#include "ui/CredentialsDialog.h"
#include "ui/CsvImportDialog.h"
#include "ui/MassFaxDialog.h"
#include "ui/OpenFaxChoiceDialog.h"
#include "ui/OptionsDialog.h"
#include "ui/SentFaxesWindow.h"
#include "ui/StatusWindow.h"
#include "ui/WaitingJobsDialog.h"
#include "ui/WorkerDialog.h"

namespace miravo::ui::test {

using MakeDialog = std::function<std::unique_ptr<QWidget>()>;

inline std::vector<std::pair<std::string, MakeDialog>> EveryDialog(AppPaths& paths,
                                                                   AppState& state) {
    AppPaths* p = &paths;
    AppState* s = &state;
    return {
        {"options", [p] { return std::make_unique<OptionsDialog>(*p); }},
        {"account", [p] { return std::make_unique<AccountDialog>(*p, AccountPreferences{}); }},
        {"status", [p] { return std::make_unique<StatusWindow>(*p, nullptr); }},
        {"credentials", [s] { return std::make_unique<CredentialsDialog>(*s); }},
        {"contact book", [p] { return std::make_unique<ContactBookDialog>(*p); }},
        {"add contact", [p] { return std::make_unique<AddContactDialog>(*p, ContactEntry{}); }},
        {"mass fax", [p] { return std::make_unique<MassFaxDialog>(*p); }},
        {"csv import", [p] { return std::make_unique<CsvImportDialog>(*p, u"a;b\n1;2\n"); }},
        {"converting", [p] { return std::make_unique<ConvertingDialog>(*p); }},
        {"worker", [p] { return std::make_unique<WorkerDialog>(*p); }},
        {"waiting jobs",
         [s] {
             return std::make_unique<WaitingJobsDialog>(
                 s->language,
                 std::vector<print::WaitingJob>{{"/spool/A__ps__job_1", "Quarterly report", 12, 0}},
                 [](const print::WaitingJob&) {});
         }},
        {"sent faxes", [p] { return std::make_unique<SentFaxesWindow>(*p); }},
        {"open fax choice",
         [s] {
             return std::make_unique<OpenFaxChoiceDialog>(
                 s->language,
                 std::vector<OpenFaxOnBus>{
                     {"org.miravo.Miravo.OpenFax.p1_1", "Quarterly report, Invoice 2025-118 - 14 pages"},
                     {"org.miravo.Miravo.OpenFax.p2_1", "Offer 4711 - 3 pages"}});
         }},
    };
}

}  // namespace miravo::ui::test
