// The fields of the current job and send, shared by the dialogs and workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Contact.h"

namespace miravo {

struct AppPaths;
class WorkerReport;

enum class FaxStep : std::uint32_t { Authenticate = 0, Transfer = 1, Status = 2 };

// What the send worker learnt from the service; cleared before the
// authentication and before the transfer, never before a status poll.
struct SendState {
    std::int32_t errorCode = 0;  // 107 = credentials refused; -1 = still under way
    bool authenticated = false;
    bool validated = false;
    bool transferred = false;
    bool statusOk = false;
    std::u16string faxId;
    std::u16string prebilling;
    std::u16string cost;
    std::u16string recipient;
    std::u16string status;
    FaxStep lastStep = FaxStep::Authenticate;

    void clear() { *this = SendState{}; }
};

// A background task run behind the worker dialog: non-zero means success.
using WorkerTask = std::function<int(AppPaths&, WorkerReport&)>;

struct FaxJob {
    // Job fields.
    std::u16string jobFilePath;        // the job file the conversion reads
    std::u16string documentBase;       // base of the document's name during a conversion
    std::u16string documentPath;       // the joined fax TIFF; empty while there is none
    std::u16string jobArgument;        // the job file as the command line named it (empty: none)
    std::u16string coverDocumentPath;  // cover page joined in front of the document
    std::u16string runFolder;          // the last conversion's own folder
    // Files after the first of the command line (a print job of several
    // files): the send dialog adds them to the fax, in order, as it opens.
    std::vector<std::u16string> moreDocuments;
    std::u16string destinationNumber;  // scratch field of Options' Check and the mass-fax import
    std::u16string pageBaseName;       // base name of the print monitor's page files
    std::vector<std::u16string> pageFiles;  // the page files the job listed, recorded with the base
    bool pageBaseRecorded = false;
    std::int32_t pageFileCount = 0;  // entries read, added to on every conversion run

    // Send dialog fields.
    bool coverPageOn = false;
    bool massFaxOn = false;
    // The destinations come from a list (the mass-fax list, miravo-send):
    // numbers the service calls invalid are left to it and end as such,
    // while the rest goes out. Typed numbers come back to be mended instead.
    bool fromList = false;
    std::u16string coverText;  // at most 5999 characters
    std::vector<Recipient> recipients;
    std::vector<Contact> chosenContacts;

    // Sending a journal record again: the record repeated, the title the
    // new record keeps and the copy of the record's kept document the send
    // began with (0 and empty for a new send).
    std::int64_t repeatsRecord = 0;
    std::u16string repeatsTitle;
    std::u16string repeatsDocument;
    // The record this send repeats: only while the kept document is the one
    // sent (another document chosen meanwhile makes it a new send); 0: none.
    std::int64_t repeatedRecord() const {
        return !repeatsDocument.empty() && documentPath == repeatsDocument ? repeatsRecord : 0;
    }

    // Worker fields.
    WorkerTask workerTask;
    std::atomic<bool> statusWindowOpen{false};

    SendState send;
};

}  // namespace miravo
