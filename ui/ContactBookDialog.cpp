#include "ui/ContactBookDialog.h"

#include <QEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "contacts/AddressBookTasks.h"
#include "ui/AddContactDialog.h"
#include "ui/ContactBookModel.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/IconCellDelegate.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"
#include "ui/WorkerDialog.h"
#include "ui_ContactBookDialog.h"

namespace miravo::ui {

ContactBookDialog::ContactBookDialog(AppPaths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::ContactBookDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    AppState& state = *paths_.state;
    ContactBook& book = state.contactBook;
    book.modified = false;
    book.load();
    model_ = new ContactBookModel(book, state.language, this);
    ui_->id1076->setModel(model_);
    ui_->id1076->header()->setStretchLastSection(false);
    ui_->id1076->header()->setSectionsMovable(false);
    ui_->id1076->installEventFilter(this);
    auto* iconCells = new IconCellDelegate(this);
    ui_->id1076->setItemDelegateForColumn(ContactBookModel::EditColumn, iconCells);
    ui_->id1076->setItemDelegateForColumn(ContactBookModel::DeleteColumn, iconCells);
    fill();
    ui_->id1078->setEnabled(false);
    ApplyDialogTexts(this, paths_, kContactBookTexts);

    connect(ui_->id1076, &QTreeView::clicked, this, &ContactBookDialog::clicked);
    connect(ui_->id1077, &QPushButton::clicked, this, &ContactBookDialog::addContact);
    connect(ui_->id1078, &QPushButton::clicked, this, &ContactBookDialog::apply);
    connect(ui_->id1079, &QPushButton::clicked, this, &ContactBookDialog::sync);
    connect(ui_->id1075, &QPushButton::clicked, this, &ContactBookDialog::send);
    connect(ui_->id1029, &QPushButton::clicked, this, [this] { done(kContactBookClosed); });
}

ContactBookDialog::~ContactBookDialog() = default;

QTreeView* ContactBookDialog::list() const {
    return ui_->id1076;
}

void ContactBookDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    layoutColumns();
    if (shown_)
        return;
    shown_ = true;
    // A book without records has never been fetched (or the file is gone):
    // fetch it as soon as the dialog is on screen.
    if (paths_.state->contactBook.contacts.empty())
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && paths_.state->contactBook.contacts.empty())
                sync();
        });
}

bool ContactBookDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->id1076 && event->type() == QEvent::Resize)
        layoutColumns();
    return QDialog::eventFilter(watched, event);
}

void ContactBookDialog::layoutColumns() {
    // Number and name a third each; the two icon columns share the rest.
    const int width = ui_->id1076->viewport()->width();
    const int third = width / 3;
    const int rest = width - 2 * third;
    QHeaderView* header = ui_->id1076->header();
    header->resizeSection(ContactBookModel::NumberColumn, third);
    header->resizeSection(ContactBookModel::NameColumn, third);
    header->resizeSection(ContactBookModel::EditColumn, rest / 2);
    header->resizeSection(ContactBookModel::DeleteColumn, rest - rest / 2);
}

void ContactBookDialog::fill() {
    // A book that holds changes the service has not received is modified
    // as soon as it is shown.
    if (model_->refill())
        paths_.state->contactBook.modified = true;
}

void ContactBookDialog::changed() {
    paths_.state->contactBook.modified = true;
    ui_->id1078->setEnabled(true);
}

void ContactBookDialog::clicked(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const Contact* contact = model_->record(index.row());
    if (!contact || contact->kind != Single)
        return;
    if (index.column() == ContactBookModel::EditColumn)
        editRow(index.row());
    else if (index.column() == ContactBookModel::DeleteColumn)
        deleteRow(index.row());
}

void ContactBookDialog::addContact() {
    const std::optional<ContactEntry> entry = RunAddContactDialog(paths_, {}, this);
    if (!entry)
        return;
    Contact contact = Contact::entry(u"0", entry->name, entry->number, u"");
    contact.kind = Single;
    contact.state = New;
    model_->append(std::move(contact));
    ui_->id1076->scrollToBottom();
    changed();
}

void ContactBookDialog::editRow(int row) {
    const Contact* shown = model_->record(row);
    if (!shown)
        return;
    const std::optional<ContactEntry> entry =
        RunAddContactDialog(paths_, {shown->number, shown->name}, this);
    Contact* contact = model_->record(row);  // the book is untouched meanwhile
    if (!entry || !contact)
        return;
    contact->number = entry->number;
    contact->name = entry->name;
    contact->state = Changed;
    model_->recordChanged(row);
    changed();
}

void ContactBookDialog::deleteRow(int row) {
    if (model_->removeSingle(row))
        changed();
}

void ContactBookDialog::apply() {
    std::filesystem::path keptAside;
    const bool saved = paths_.state->contactBook.save(&keptAside);
    tellKeptAside(keptAside);
    if (!saved) {
        saveFailed();
        return;
    }
    ui_->id1078->setEnabled(false);
}

void ContactBookDialog::tellKeptAside(const std::filesystem::path& keptAside) {
    // The file that did not read whole is kept only once, so this is said
    // once: the next save finds a sound file.
    if (keptAside.empty())
        return;
    QMessageBox box(QMessageBox::Information, windowTitle(),
                    qstr(GetText(paths_.state->language, text::kContactFileKeptAside,
                                 FromFsPath(keptAside))),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("keptAside"));
    box.exec();
}

void ContactBookDialog::saveFailed() {
    // The book stays in memory and Apply stays enabled, so the user can
    // try again once the folder is writable.
    QMessageBox box(QMessageBox::Warning, windowTitle(), qstr(GetText(paths_.state->language, text::kContactBookNotSaved)),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("saveFailed"));
    box.exec();
}

void ContactBookDialog::sync() {
    AppState& state = *paths_.state;
    auto answer = std::make_shared<AddressBookAnswer>();
    state.job.workerTask = chooseSyncTask(state.contactBook, answer);
    RunWorkerDialog(paths_, this);  // its outcome is shown there
    state.job.workerTask = nullptr;
    const SyncMergeOutcome merged = mergeAddressBookAnswer(paths_, *answer);
    fill();
    tellKeptAside(merged.keptAside);
    ui_->id1078->setEnabled(!merged.saved);
    if (!merged.saved)
        saveFailed();
}

void ContactBookDialog::send() {
    std::vector<Contact> chosen = model_->checkedRecords();
    for (Contact& contact : chosen)
        if (contact.kind == Group)
            contact.number = u"[" + contact.groupname + u"]";
    paths_.state->job.chosenContacts = std::move(chosen);
    done(kContactBookSent);
}

void ContactBookDialog::reject() {
    done(kContactBookEscaped);
}

int RunContactBookDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state)
        return kContactBookClosed;
    ContactBookDialog dialog(paths, owner);
    return dialog.exec();
}

}  // namespace miravo::ui
