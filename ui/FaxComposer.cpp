#include "ui/FaxComposer.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/DocumentKind.h"
#include "app/ExitCleanup.h"
#include "app/JobFileCheck.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/TextIds.h"
#include "convert/ConversionRun.h"
#include "convert/JobFile.h"
#include "ui/ConvertingDialog.h"
#include "ui/DialogControls.h"
#include "ui/MessageBoxes.h"

namespace miravo::ui {

namespace {

int pagesOfDocument(const std::u16string& path) {
    const long named = PageCountFromName(path);
    return named > 0 ? static_cast<int>(named) : CountTiffPages(ToFsPath(path));
}

bool isRegularFile(const std::u16string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(ToFsPath(path), ec);
}

// The record's fields a conversion writes: kept aside while a document is
// added, so that the fax's first document and the exit clean-up of its
// job stay as they were.
struct ConversionFields {
    std::u16string jobFilePath, documentBase, documentPath, jobArgument, runFolder, pageBaseName;
    std::vector<std::u16string> pageFiles;
    bool pageBaseRecorded = false;
    std::int32_t pageFileCount = 0;

    explicit ConversionFields(const FaxJob& job)
        : jobFilePath(job.jobFilePath), documentBase(job.documentBase),
          documentPath(job.documentPath), jobArgument(job.jobArgument), runFolder(job.runFolder),
          pageBaseName(job.pageBaseName), pageFiles(job.pageFiles),
          pageBaseRecorded(job.pageBaseRecorded), pageFileCount(job.pageFileCount) {}
    void restore(FaxJob& job) const {
        job.jobFilePath = jobFilePath;
        job.documentBase = documentBase;
        job.documentPath = documentPath;
        job.jobArgument = jobArgument;
        job.runFolder = runFolder;
        job.pageBaseName = pageBaseName;
        job.pageFiles = pageFiles;
        job.pageBaseRecorded = pageBaseRecorded;
        job.pageFileCount = pageFileCount;
    }
};

}  // namespace

FaxComposer::FaxComposer(AppPaths& paths, QWidget* owner, const QString& firstName)
    : QObject(owner), paths_(paths), owner_(owner), pages_(paths.state->settings.maxPages) {
    const std::u16string& document = paths_.state->job.documentPath;
    if (!isRegularFile(document))
        return;
    // The document the run was started with is the fax's first, whatever
    // its length: the send says so when it passes the limit.
    pages_.setMaxPages(0);
    pages_.add({u16str(firstName), ToFsPath(document), pagesOfDocument(document)});
    pages_.setMaxPages(paths_.state->settings.maxPages);
    owned_.emplace_back();  // its files stay the record's
}

FaxComposer::~FaxComposer() {
    for (const Owned& owned : owned_)
        release(owned);
    if (!composedFolder_.empty())
        RemoveRunFolder(composedFolder_);
}

void FaxComposer::release(const Owned& owned) {
    if (owned.printed)
        print::RemovePrintJob(*owned.printed);
    if (!owned.runFolder.empty())
        RemoveRunFolder(owned.runFolder);
}

bool FaxComposer::convert(const QString& file, FaxDocument& document, Owned& owned) {
    AppState& state = *paths_.state;
    FaxJob& job = state.job;
    const ConversionFields before(job);
    const std::u16string path = u16str(file);
    // Every document gets a run folder of its own; the record's first stays whole.
    job.runFolder.clear();
    job.documentPath.clear();
    bool converted = false;
    if (CheckJobFile(path)) {
        // A printed job: converted as at the start, its page files and
        // job file removed once the fax has its pages.
        job.jobFilePath = path;
        job.jobArgument = path;
        job.pageBaseRecorded = false;
        job.pageBaseName.clear();
        job.pageFiles.clear();
        job.pageFileCount = 0;
        RunConversionDialog(paths_, owner_);
        converted = isRegularFile(job.documentPath);
        AppState used;
        used.job.pageBaseName = job.pageBaseName;
        used.job.pageBaseRecorded = job.pageBaseRecorded;
        used.job.pageFiles = job.pageFiles;
        used.job.pageFileCount = job.pageFileCount;
        if (converted)
            DeleteTemporaryFiles(used, path);
        document.name = DocumentName(path);
    } else {
        const print::DocumentConversion outcome =
            ConvertDocumentFile(paths_, owner_, ToFsPath(path));
        converted = outcome.printed.ok && isRegularFile(job.documentPath);
        if (outcome.printed.ok)
            owned.printed = outcome.printed;
        if (!converted)
            TellDocumentNotConverted(paths_, owner_, QFileInfo(file).fileName(), outcome.problem,
                                     outcome.details, outcome.failedPage);
        document.name = u16str(QFileInfo(file).fileName());
    }
    owned.runFolder = job.runFolder;
    document.tiff = ToFsPath(job.documentPath);
    document.pages = converted ? pagesOfDocument(job.documentPath) : 0;
    if (!converted || document.pages <= 0) {
        release(owned);
        before.restore(job);
        return false;
    }
    // The first document of an empty fax becomes the record's own, as a
    // printed one is: the document line names it and the exit clean-up
    // removes its run.
    if (pages_.documents().empty()) {
        owned.runFolder.clear();
        if (!before.runFolder.empty())
            RemoveRunFolder(before.runFolder);
        return true;
    }
    before.restore(job);
    return true;
}

int FaxComposer::add(const QStringList& files) {
    int added = 0;
    for (const QString& file : files) {
        FaxDocument document;
        Owned owned;
        if (!convert(file, document, owned))
            break;
        const std::u16string name = document.name;
        const int pages = document.pages;
        pages_.setMaxPages(paths_.state->settings.maxPages);
        if (pages_.add(std::move(document)) != AddOutcome::Added) {
            release(owned);
            QMessageBox box(QMessageBox::Warning, ProductTitle(),
                            qstr(GetText(paths_.state->language, text::kFaxPagesRefused, name,
                                         static_cast<long long>(pages_.pagesWith(pages)),
                                         static_cast<long long>(pages_.maxPages()))),
                            QMessageBox::Ok, owner_);
            box.setObjectName(QStringLiteral("faxPagesRefused"));
            ReserveCaptionRoom(box);
            box.exec();
            break;
        }
        owned_.push_back(std::move(owned));
        ++added;
    }
    if (added > 0)
        emit changed();
    return added;
}

bool FaxComposer::makeDocument() {
    FaxJob& job = paths_.state->job;
    if (pages_.empty())
        return false;
    if (pages_.asConverted()) {
        job.documentPath =
            FromFsPath(pages_.documents()[static_cast<std::size_t>(pages_.pages().front().document)]
                           .tiff);
        return true;
    }
    if (composedOnce_ && composedRevision_ == pages_.revision() && isRegularFile(composed_)) {
        job.documentPath = composed_;
        return true;
    }
    if (composedFolder_.empty())
        composedFolder_ = MakeRunFolder();
    // The page count is read from the name by everything that sends it.
    const std::u16string name =
        DocumentName(composedFolder_ + u"/fax", static_cast<std::int32_t>(pages_.pageCount()));
    const JoinResult made = composedFolder_.empty() ? JoinResult{false, 0, 0, "no folder"}
                                                    : pages_.compose(ToFsPath(name));
    if (!made.ok) {
        QMessageBox box(QMessageBox::Warning, ProductTitle(),
                        qstr(GetText(paths_.state->language, text::kFaxNotComposed,
                                     fromUtf8(made.error))),
                        QMessageBox::Ok, owner_);
        box.setObjectName(QStringLiteral("faxNotComposed"));
        ReserveCaptionRoom(box);
        box.exec();
        return false;
    }
    if (!composed_.empty() && composed_ != name) {
        std::error_code ec;
        std::filesystem::remove(ToFsPath(composed_), ec);
    }
    composed_ = name;
    composedRevision_ = pages_.revision();
    composedOnce_ = true;
    job.documentPath = composed_;
    return true;
}

QString FaxComposer::description() const {
    QStringList parts;
    for (std::size_t i = 0; i < pages_.documents().size(); ++i) {
        const int pages = pages_.pagesOf(static_cast<int>(i));
        if (pages > 0)
            parts << qstr(GetText(paths_.state->language, text::kFaxDocumentLine,
                                  pages_.documents()[i].name, static_cast<long long>(pages)));
    }
    return parts.join(QStringLiteral(", "));
}

}  // namespace miravo::ui
