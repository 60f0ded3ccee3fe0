#include "ui/MassFaxDialog.h"

#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Paths.h"
#include "contacts/MassFaxList.h"
#include "ui/ContactBookDialog.h"
#include "ui/CsvImportDialog.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "app/LanguageTable.h"
#include "ui/Dialogs.h"
#include "ui/IconCellDelegate.h"
#include "ui/Icons.h"
#include "ui/MassFaxModel.h"
#include "ui/FileDialogFolder.h"
#include "ui/TextIds.h"
#include "ui_MassFaxDialog.h"

namespace miravo::ui {

namespace {

QString chooseWithFileDialog(QWidget* owner, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, QString(), folder, filter);
}

MassFaxFileChooser& fileChooser() {
    static MassFaxFileChooser chooser = chooseWithFileDialog;
    return chooser;
}

}  // namespace

MassFaxFileChooser SetMassFaxFileChooser(MassFaxFileChooser chooser) {
    MassFaxFileChooser previous = std::move(fileChooser());
    fileChooser() = chooser ? std::move(chooser) : MassFaxFileChooser(chooseWithFileDialog);
    return previous;
}

QTreeView* MassFaxDialog::list() const { return ui_->id1076; }
QPushButton* MassFaxDialog::okButton() const { return ui_->id1; }
QPushButton* MassFaxDialog::cancelButton() const { return ui_->id1029; }
QLineEdit* MassFaxDialog::numberBox() const { return ui_->id1072; }
QPushButton* MassFaxDialog::addButton() const { return ui_->id1077; }
QPushButton* MassFaxDialog::addFromContactBookButton() const { return ui_->id1081; }
QPushButton* MassFaxDialog::addFromFileButton() const { return ui_->id1082; }
QPushButton* MassFaxDialog::addFromClipboardButton() const { return ui_->id1083; }

MassFaxDialog::MassFaxDialog(AppPaths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::MassFaxDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    AppState& state = *paths_.state;
    model_ = new MassFaxModel(state.language, this);
    list()->setModel(model_);
    list()->header()->setStretchLastSection(false);
    list()->header()->setSectionsMovable(false);
    list()->installEventFilter(this);
    numberBox()->installEventFilter(this);
    auto* iconCells = new IconCellDelegate(this);
    list()->setItemDelegateForColumn(MassFaxModel::DeleteColumn, iconCells);
    // The list as the last OK left it.
    model_->appendRecords(state.job.recipients);
    ApplyDialogTexts(this, paths_, kMassFaxListTexts);
    buildCheckRow();
    model_->setRegion(state.settings.defaultRegion);

    connect(list(), &QTreeView::clicked, this, &MassFaxDialog::clicked);
    connect(addButton(), &QPushButton::clicked, this, &MassFaxDialog::addTyped);
    connect(addFromContactBookButton(), &QPushButton::clicked, this,
            &MassFaxDialog::addFromContactBook);
    connect(addFromClipboardButton(), &QPushButton::clicked, this,
            &MassFaxDialog::addFromClipboard);
    connect(addFromFileButton(), &QPushButton::clicked, this, &MassFaxDialog::addFromFile);
    connect(okButton(), &QPushButton::clicked, this, &MassFaxDialog::accept);
    connect(cancelButton(), &QPushButton::clicked, this, [this] {
        keepNumbers();
        done(kMassFaxCancelled);
    });
    numberBox()->setFocus();
}

MassFaxDialog::~MassFaxDialog() = default;

void MassFaxDialog::buildCheckRow() {
    // Counts of the checked numbers and what can be done about them, above
    // OK and Cancel.
    const LanguageTable& language = paths_.state->language;
    auto* row = new QHBoxLayout;
    checkCounts_ = new QLabel(this);
    checkCounts_->setObjectName(QStringLiteral("numberCounts"));
    removeInvalid_ = new QPushButton(qstr(GetText(language, text::kRemoveInvalid)), this);
    removeInvalid_->setObjectName(QStringLiteral("removeInvalid"));
    removeDuplicates_ = new QPushButton(qstr(GetText(language, text::kRemoveDuplicates)), this);
    removeDuplicates_->setObjectName(QStringLiteral("removeDuplicates"));
    international_ = new QPushButton(qstr(GetText(language, text::kWriteInternational)), this);
    international_->setObjectName(QStringLiteral("writeInternational"));
    for (QPushButton* b : {removeInvalid_, removeDuplicates_, international_})
        b->setAutoDefault(false);
    row->addWidget(removeInvalid_);
    row->addWidget(removeDuplicates_);
    row->addWidget(international_);
    // The invalid numbers alone, to be found in a long list.
    onlyInvalid_ = new QCheckBox(qstr(GetText(language, text::kShowOnlyInvalid)), this);
    onlyInvalid_->setObjectName(QStringLiteral("onlyInvalid"));
    row->addStretch(1);
    if (auto* main = qobject_cast<QBoxLayout*>(layout())) {
        main->insertWidget(main->count() - 1, checkCounts_);
        main->insertLayout(main->count() - 1, row);
        main->insertWidget(main->count() - 1, onlyInvalid_);
    }
    // Tab goes through the new row where it stands: above OK and Close.
    SetTabOrder({control(this, 1082), removeInvalid_, removeDuplicates_, international_,
                 onlyInvalid_});
    connect(onlyInvalid_, &QCheckBox::toggled, this, [this] { showOnlyInvalid(); });
    connect(model_, &MassFaxModel::checked, this, &MassFaxDialog::showCheck);
    connect(removeInvalid_, &QPushButton::clicked, this, [this] { model_->removeInvalid(); });
    connect(removeDuplicates_, &QPushButton::clicked, this,
            [this] { model_->removeDuplicates(); });
    connect(international_, &QPushButton::clicked, this, [this] { model_->writeInternational(); });
    showCheck();
}

void MassFaxDialog::showCheck() {
    const NumberListCheck& check = model_->check();
    const LanguageTable& language = paths_.state->language;
    std::u16string counts = GetText(language, text::kNumberCounts, check.validCount,
                                    check.invalidCount, check.duplicateCount);
    // Repeats that never became rows are counted too.
    if (const std::size_t merged = model_->list().merged(); merged > 0)
        counts += u" " + GetText(language, text::kDuplicatesMerged, merged);
    checkCounts_->setText(qstr(counts));
    removeInvalid_->setEnabled(check.invalidCount > 0);
    removeDuplicates_->setEnabled(check.duplicateCount > 0);
    international_->setEnabled(model_->rowCount() > 0);
    onlyInvalid_->setEnabled(check.invalidCount > 0 || onlyInvalid_->isChecked());
    showOnlyInvalid();
}

void MassFaxDialog::showOnlyInvalid() {
    const NumberListCheck& check = model_->check();
    const bool only = onlyInvalid_->isChecked();
    for (int i = 0; i < model_->rowCount(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        list()->setRowHidden(i, QModelIndex(), only && (at >= check.invalid.size() || !check.invalid[at]));
    }
}

void MassFaxDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    layoutColumns();
}

bool MassFaxDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list() && event->type() == QEvent::Resize)
        layoutColumns();
    // Enter in the number box adds the number: a user typing numbers one
    // after another must not end the list with OK by accident.
    if (watched == numberBox() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            addTyped();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void MassFaxDialog::layoutColumns() {
    // Number half the width; position and delete icon a quarter each.
    const int width = list()->viewport()->width();
    const int quarter = width / 4;
    QHeaderView* header = list()->header();
    header->resizeSection(MassFaxModel::PositionColumn, quarter);
    header->resizeSection(MassFaxModel::NumberColumn, width - 2 * quarter);
    header->resizeSection(MassFaxModel::DeleteColumn, quarter);
}

void MassFaxDialog::clicked(const QModelIndex& index) {
    if (index.isValid() && index.column() == MassFaxModel::DeleteColumn)
        model_->remove(index.row());
}

void MassFaxDialog::showAddedFrom(int firstRow) {
    if (firstRow < model_->rowCount())
        list()->scrollTo(model_->index(firstRow, MassFaxModel::NumberColumn));
}

void MassFaxDialog::addTyped() {
    // The edit keeps its text, so similar numbers are quick to type.
    const int first = model_->rowCount();
    model_->add(u16str(numberBox()->text()));
    showAddedFrom(first);
}

void MassFaxDialog::addFromContactBook() {
    // Only what Send hands back is added: Close or Escape in the contact
    // book adds nothing (not even the choice of an earlier Send).
    if (RunContactBookDialog(paths_, this) != kContactBookSent)
        return;
    const int first = model_->rowCount();
    model_->appendRecords(paths_.state->job.chosenContacts);
    showAddedFrom(first);
}

void MassFaxDialog::addFromClipboard() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    const QString text = clipboard->text();
    const int first = model_->rowCount();
    model_->addLines(u16str(text));
    showAddedFrom(first);
}

void MassFaxDialog::addFromFile() {
    AppSettings& settings = paths_.state->settings;
    const QString chosen =
        fileChooser()(this, FileDialogFolder(settings.lastMassFileDir),
                      qstr(GetText(paths_.state->language, text::kListFilesFilter)) +
                          QStringLiteral(" (*.csv *.txt)"));
    if (chosen.isEmpty())
        return;
    const std::u16string path = u16str(chosen);
    if (std::u16string folder = MassFaxFolderOf(path); !folder.empty())
        settings.lastMassFileDir = std::move(folder);

    const MassFaxFile file = ReadMassFaxFile(ToFsPath(path), path);
    const int first = model_->rowCount();
    switch (file.kind) {
        case MassFaxFile::Kind::Unreadable:
            return;
        case MassFaxFile::Kind::Unsupported: {
            QMessageBox box(QMessageBox::NoIcon, QString(), qstr(kUnsupportedFileFormat),
                            QMessageBox::Ok, this);
            box.setObjectName(QStringLiteral("unsupportedFile"));
            box.exec();
            return;
        }
        case MassFaxFile::Kind::PlainList:
            model_->addLines(file.text);
            break;
        case MassFaxFile::Kind::Csv: {
            const CsvImportChoice choice = RunCsvImportDialog(paths_, file.text, this);
            if (choice.result != kCsvImportAccepted)
                return;
            model_->addCsvRows(file.text, DelimiterOf(settings.delimiter), choice.columns);
            break;
        }
    }
    showAddedFrom(first);
}

void MassFaxDialog::accept() {
    paths_.state->job.recipients = model_->list().recipients();
    done(kMassFaxAccepted);
}

void MassFaxDialog::reject() {
    keepNumbers();
    done(kMassFaxEscaped);
}

void MassFaxDialog::keepNumbers() {
    // The numbers stay the list's until the user removes them or sends:
    // closing the window throws none of them away.
    paths_.state->job.recipients = model_->list().recipients();
}

int RunMassFaxDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state)
        return kMassFaxCancelled;
    MassFaxDialog dialog(paths, owner);
    return dialog.exec();
}

}  // namespace miravo::ui
