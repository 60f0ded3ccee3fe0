#include "ui/ContactBookDialog.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "contacts/AddressBookTasks.h"
#include "contacts/VCardFile.h"
#include "ui/AddContactDialog.h"
#include "ui/ContactBookModel.h"
#include "ui/ContactFilterModel.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Dialogs.h"
#include "ui/FileDialogFolder.h"
#include "ui/IconCellDelegate.h"
#include "ui/Mnemonics.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"
#include "ui/WorkerDialog.h"
#include "ui_ContactBookDialog.h"

namespace miravo::ui {

namespace {

// A button's text as the caption of the window it opens: without its
// mnemonic and the dots that say a window follows.
QString captionOf(const QPushButton* button) {
    QString caption = WithoutMnemonic(button->text()).trimmed();
    for (const QString& dots : {QStringLiteral("\u2026"), QStringLiteral("...")}) {
        if (caption.endsWith(dots))
            caption.chop(dots.size());
    }
    return caption.trimmed();
}

}  // namespace

QTreeView* ContactBookDialog::list() const { return ui_->id1076; }
QPushButton* ContactBookDialog::closeButton() const { return ui_->id1029; }
QPushButton* ContactBookDialog::sendButton() const { return ui_->id1075; }
QPushButton* ContactBookDialog::addContactButton() const { return ui_->id1077; }
QPushButton* ContactBookDialog::applyButton() const { return ui_->id1078; }
QPushButton* ContactBookDialog::syncButton() const { return ui_->id1079; }

ContactBookDialog::ContactBookDialog(AppPaths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::ContactBookDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    AppState& state = *paths_.state;
    ContactBook& book = state.contactBook;
    book.modified = false;
    book.load();
    model_ = new ContactBookModel(book, state.language, this);
    shownRows_ = new ContactFilterModel(*model_, this);
    list()->setModel(shownRows_);
    // A click on a column header sorts by it; the book's order comes first.
    list()->setSortingEnabled(true);
    list()->sortByColumn(-1, Qt::AscendingOrder);
    addSearchField();
    list()->header()->setStretchLastSection(false);
    list()->header()->setSectionsMovable(false);
    list()->installEventFilter(this);
    auto* iconCells = new IconCellDelegate(this);
    list()->setItemDelegateForColumn(ContactBookModel::EditColumn, iconCells);
    list()->setItemDelegateForColumn(ContactBookModel::DeleteColumn, iconCells);
    fill();
    applyButton()->setEnabled(false);
    addTransferButtons();
    ApplyDialogTexts(this, paths_, kContactBookTexts);

    connect(list(), &QTreeView::clicked, this, &ContactBookDialog::clicked);
    connect(addContactButton(), &QPushButton::clicked, this, &ContactBookDialog::addContact);
    connect(applyButton(), &QPushButton::clicked, this, &ContactBookDialog::apply);
    connect(syncButton(), &QPushButton::clicked, this, &ContactBookDialog::sync);
    connect(sendButton(), &QPushButton::clicked, this, &ContactBookDialog::send);
    connect(closeButton(), &QPushButton::clicked, this, [this] { done(kContactBookClosed); });
}

ContactBookDialog::~ContactBookDialog() = default;

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
    if (watched == search_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        list()->setFocus(Qt::TabFocusReason);
        if (!list()->currentIndex().isValid() && shownRows_->rowCount() > 0)
            list()->setCurrentIndex(shownRows_->index(0, 0));
        return true;
    }
    if (watched == list() && event->type() == QEvent::Resize)
        layoutColumns();
    return QDialog::eventFilter(watched, event);
}

void ContactBookDialog::addSearchField() {
    // Above the list: the text to look for in numbers, names and groups,
    // applied as it is typed. Ctrl+F goes there from anywhere.
    auto* label = new QLabel(qstr(GetText(paths_.state->language, text::kSearch)), this);
    label->setObjectName(QStringLiteral("contactSearchLabel"));
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("contactSearch"));
    search_->setClearButtonEnabled(true);
    label->setBuddy(search_);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(search_, 1);
    ui_->layout->insertLayout(0, row);
    connect(search_, &QLineEdit::textChanged, shownRows_, &ContactFilterModel::setSearchText);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    // Down from the search field goes on into the list.
    search_->installEventFilter(this);
    setTabOrder(search_, list());
}

int ContactBookDialog::bookRow(const QModelIndex& shown) const {
    return shown.isValid() ? shownRows_->mapToSource(shown).row() : -1;
}

void ContactBookDialog::layoutColumns() {
    // Number and name a third each; the two icon columns share the rest.
    const int width = list()->viewport()->width();
    const int third = width / 3;
    const int rest = width - 2 * third;
    QHeaderView* header = list()->header();
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
    applyButton()->setEnabled(true);
}

void ContactBookDialog::clicked(const QModelIndex& index) {
    const int row = bookRow(index);
    const Contact* contact = model_->record(row);
    if (!contact || contact->kind != Single)
        return;
    if (index.column() == ContactBookModel::EditColumn)
        editRow(row);
    else if (index.column() == ContactBookModel::DeleteColumn)
        deleteRow(row);
}

void ContactBookDialog::addContact() {
    const std::optional<ContactEntry> entry = RunAddContactDialog(paths_, {}, this);
    if (!entry)
        return;
    Contact contact = Contact::entry(u"0", entry->name, entry->number, u"");
    contact.kind = Single;
    contact.state = New;
    model_->append(std::move(contact));
    list()->scrollToBottom();
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
    applyButton()->setEnabled(false);
}

void ContactBookDialog::addTransferButtons() {
    const LanguageTable& language = paths_.state->language;
    auto button = [&](const char* name, int textId, int at) {
        auto* b = new QPushButton(qstr(GetText(language, textId)), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        ui_->bookButtons->insertWidget(at, b);
        return b;
    };
    // After "Apply", before the spacer.
    QPushButton* importButton = button("importContacts", text::kImportContacts, 3);
    QPushButton* exportButton = button("exportContacts", text::kExportContacts, 4);
    SetTabOrder({control(this, 1078), importButton, exportButton});
    const QString filter = qstr(GetText(language, text::kVCardFilesFilter));
    std::u16string* folder = &paths_.state->settings.lastContactsDir;
    connect(importButton, &QPushButton::clicked, this, [this, importButton, filter, folder] {
        const QString file = QFileDialog::getOpenFileName(this, captionOf(importButton),
                                                          FileDialogFolder(*folder), filter);
        if (file.isEmpty())
            return;
        RememberFileDialogFolder(*folder, file);
        importContacts(file);
    });
    connect(exportButton, &QPushButton::clicked, this, [this, exportButton, filter, folder] {
        const QString file = QFileDialog::getSaveFileName(
            this, captionOf(exportButton),
            QDir(FileDialogFolder(*folder)).filePath(QStringLiteral("contacts.vcf")), filter);
        if (file.isEmpty())
            return;
        RememberFileDialogFolder(*folder, file);
        exportContacts(file);
    });
}

void ContactBookDialog::importContacts(const QString& file) {
    const LanguageTable& language = paths_.state->language;
    const VCardFileImport imported =
        ImportVCardFile(ToFsPath(file.toStdU16String()), paths_.state->contactBook);
    if (!imported.read) {
        tell(QMessageBox::Warning, QStringLiteral("importFailed"),
             GetText(language, text::kFileNotRead, file.toStdU16String()));
        return;
    }
    if (imported.added.added > 0) {
        model_->refill();
        list()->scrollToBottom();
        changed();  // new contacts: Apply saves them, the next synchronisation sends them
    }
    // The counts first; the lists of cards left out and names kept
    // otherwise below them, or behind "Show Details" when they are long.
    const std::vector<std::u16string> summary = ImportSummary(language, imported);
    const std::size_t counts = imported.added.toCheck.empty() ? 1 : 2;
    std::u16string told, lists;
    for (std::size_t i = 0; i < summary.size(); ++i)
        (i < counts ? told : lists) += (i == 0 || i == counts ? u"" : u"\n\n") + summary[i];
    QMessageBox box(QMessageBox::Information, windowTitle(), qstr(told), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("imported"));
    constexpr qsizetype kListedInline = 20;  // lines shown without "Show Details"
    if (qstr(lists).count(QLatin1Char('\n')) < kListedInline)
        box.setInformativeText(qstr(lists));
    else
        box.setDetailedText(qstr(lists));
    box.exec();
}

void ContactBookDialog::exportContacts(const QString& file) {
    const LanguageTable& language = paths_.state->language;
    std::size_t written = 0;
    if (!ExportVCardFile(ToFsPath(file.toStdU16String()), paths_.state->contactBook, written)) {
        tell(QMessageBox::Warning, QStringLiteral("exportFailed"),
             GetText(language, text::kFileNotWritten, file.toStdU16String()));
        return;
    }
    tell(QMessageBox::Information, QStringLiteral("exported"),
         GetText(language, text::kContactsExported, file.toStdU16String(),
                 static_cast<int>(written)));
}

void ContactBookDialog::tell(QMessageBox::Icon icon, const QString& objectName,
                             const std::u16string& text) {
    QMessageBox box(icon, windowTitle(), qstr(text), QMessageBox::Ok, this);
    box.setObjectName(objectName);
    box.exec();
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
    applyButton()->setEnabled(!merged.saved);
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
