#include "ui/SendAgain.h"

#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "journal/SentDocuments.h"
#include "ui/DialogControls.h"
#include "ui/SendDialog.h"
#include "ui/TextIds.h"

namespace miravo::ui {

namespace {

// What the dialog changes of the job and the settings, given back after.
struct SavedJob {
    explicit SavedJob(AppState& state)
        : state_(state),
          jobFilePath(state.job.jobFilePath),
          documentPath(state.job.documentPath),
          coverDocumentPath(state.job.coverDocumentPath),
          coverPageOn(state.job.coverPageOn),
          massFaxOn(state.job.massFaxOn),
          coverText(state.job.coverText),
          recipients(state.job.recipients),
          chosenContacts(state.job.chosenContacts),
          send(state.job.send),
          transmissionReport(state.settings.transmissionReport),
          reportAttach(state.settings.reportAttach) {}
    ~SavedJob() {
        FaxJob& job = state_.job;
        job.jobFilePath = jobFilePath;
        job.documentPath = documentPath;
        job.coverDocumentPath = coverDocumentPath;
        job.coverPageOn = coverPageOn;
        job.massFaxOn = massFaxOn;
        job.coverText = coverText;
        job.recipients = recipients;
        job.chosenContacts = chosenContacts;
        job.send = send;
        job.repeatsRecord = 0;
        job.repeatsTitle.clear();
        job.repeatsDocument.clear();
        state_.settings.transmissionReport = transmissionReport;
        state_.settings.reportAttach = reportAttach;
    }

    AppState& state_;
    std::u16string jobFilePath, documentPath, coverDocumentPath;
    bool coverPageOn, massFaxOn;
    std::u16string coverText;
    std::vector<Recipient> recipients, chosenContacts;
    SendState send;
    bool transmissionReport, reportAttach;
};

}  // namespace

std::vector<JournalDestination> DestinationsToSendAgain(const JournalSend& send, bool failedOnly) {
    std::vector<JournalDestination> chosen;
    for (const JournalDestination& d : send.destinations) {
        if (!failedOnly || (d.final && d.statusCode != u"OK"))
            chosen.push_back(d);
    }
    return chosen;
}

bool SendAgain(AppPaths& paths, Journal& journal, std::int64_t id, bool failedOnly,
               QWidget* owner) {
    AppState& state = *paths.state;
    const LanguageTable& language = state.language;
    const auto send = journal.send(id);
    const JournalKeeping keeping = journal.keeping(id);
    auto refuse = [&](int textId) {
        QMessageBox::information(owner, qstr(GetText(language, text::kSentFaxes)),
                                 qstr(GetText(language, textId)));
        return false;
    };
    if (!send || keeping.document != KeptDocument::Kept)
        return refuse(text::kDocumentNotKept);
    const std::vector<JournalDestination> destinations = DestinationsToSendAgain(*send, failedOnly);
    if (destinations.empty())
        return refuse(text::kNothingToSendAgain);

    // The dialog's document is removed at the end like any converted one:
    // it gets a copy of the kept file, named with its page count as every
    // fax document is.
    QTemporaryDir folder(QString::fromStdString(
        (std::filesystem::temp_directory_path() / "miravo-again-XXXXXX").string()));
    const int pages = send->pages - (send->cover ? 1 : 0);
    const QString copy = folder.filePath(QStringLiteral("sendagain_res__%1.tif").arg(pages));
    if (!folder.isValid() ||
        !QFile::copy(QString::fromStdString(KeptDocumentPath(journal, id).string()), copy))
        return refuse(text::kDocumentNotKept);

    SavedJob saved(state);
    FaxJob& job = state.job;
    job.jobFilePath.clear();
    job.coverDocumentPath.clear();
    job.documentPath = u16str(copy);
    job.recipients.clear();
    job.chosenContacts.clear();
    for (const JournalDestination& d : destinations)
        job.chosenContacts.push_back(Contact::entry(u"0", d.name, d.number, u""));
    job.repeatsRecord = id;
    job.repeatsTitle = send->title;
    job.repeatsDocument = job.documentPath;
    state.settings.transmissionReport = send->reportOptions != u"NOT_AT_ALL";
    state.settings.reportAttach = send->reportOptions == u"YES";

    SendDialog dialog(paths, owner);
    dialog.applyChosenContacts();
    if (send->cover)
        dialog.takeCoverText(qstr(KeptCoverText(journal, id)));
    dialog.exec();
    return true;
}

}  // namespace miravo::ui
