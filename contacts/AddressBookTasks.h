// Address-book synchronisation with the service: the two background tasks
// the worker dialog runs ("get_address_book" and "update_address_book"),
// the choice between them, and the step that rebuilds the local book from
// the answer once the dialog has ended and stores it in "contacts.csv".
//
// A task hands its answer to the merge through an AddressBookAnswer it
// shares with the caller, never through "result.xml": that file is only a
// copy for reading. So an answer that could not be stored, or a file
// rewritten meanwhile by another exchange, never rebuilds the book from
// the wrong address book.
//
// Typical use on the window's thread:
//   auto answer = std::make_shared<AddressBookAnswer>();
//   job.workerTask = chooseSyncTask(book, answer);
//   ...run the worker dialog until the task has ended...
//   mergeAddressBookAnswer(paths, *answer);   // rebuild, then save
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/FaxJob.h"
#include "app/Contact.h"
#include "service/TaskAnswer.h"

namespace miravo {

struct AppPaths;
class WorkerReport;

// The service's answer to one synchronisation task.
using AddressBookAnswer = TaskAnswer;

// Whether the book holds single contacts the service has not received
// (state New, Changed or Deleted). Such a book must be synchronised with
// an update: a fetch would replace those changes with the service's copy.
bool HasUnsentChanges(const ContactBook& book);

// The tasks. Each reads the user name and password from the settings (and
// the update the book) of paths.state, sets the title to language text 74,
// posts its form, keeps the answer in `answer` and stores it as
// "result.xml", then writes the outcome into the status line 1051: the
// error text of the service's code ("OK" on success), or language text 999
// when no usable answer came. Returns 1 when the answer's
// API_RESULT/GET_ADDRESS_BOOK/RESULT is exactly "0", else 0.
//
// A request is never sent incomplete: when a field would not fit in the
// form (a very large update), nothing is sent and the status line shows
// language text 77; when a value holds the form's delimiter, nothing is
// sent and it shows language text 79. The book is then left for the user
// to correct or to synchronise again; none of its changes is lost.
//
// The update reads the book on the worker thread: the caller must leave
// it alone until the task has ended (the worker dialog is modal).
WorkerTask fetchAddressBookTask(std::shared_ptr<AddressBookAnswer> answer);
WorkerTask updateAddressBookTask(std::shared_ptr<AddressBookAnswer> answer);

// The update task when the book is marked modified or holds unsent
// changes, else the fetch task.
WorkerTask chooseSyncTask(const ContactBook& book, std::shared_ptr<AddressBookAnswer> answer);

struct SyncMergeOutcome {
    bool replaced = false;  // the book was rebuilt from the service's answer
    bool saved = false;     // "contacts.csv" was written
    // Where a contacts.csv that did not load whole was kept before the
    // save (empty: nothing kept aside); the window tells the user
    // (ContactFileKeptAsideMessage).
    std::filesystem::path keptAside;
};

// After the worker dialog: when the task has ended with an answer whose
// RESULT is exactly "0", rebuilds the book of paths.state from it
// (MergeAddressBook: groups first in descending name order, then the
// single contacts in service order, all synchronised); otherwise the book
// stays exactly as it was, unsent changes included. Then saves the book
// to "contacts.csv" either way. `modified` is left as it is. An answer
// whose task is still running is not used.
SyncMergeOutcome mergeAddressBookAnswer(AppPaths& paths, const AddressBookAnswer& answer);

}  // namespace miravo
