#include "ui/CsvImportDialog.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTreeWidget>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "contacts/CsvImport.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/Icons.h"
#include "ui/TextIds.h"
#include "ui_CsvImportDialog.h"

namespace miravo::ui {

QTreeWidget* CsvImportDialog::list() const { return ui_->id1076; }
QPushButton* CsvImportDialog::okButton() const { return ui_->id1; }
QPushButton* CsvImportDialog::cancelButton() const { return ui_->id1029; }
QLineEdit* CsvImportDialog::delimiterBox() const { return ui_->id1084; }
QPushButton* CsvImportDialog::refreshButton() const { return ui_->id1086; }
QCheckBox* CsvImportDialog::tabDelimiterBox() const { return ui_->id1088; }

CsvImportDialog::CsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::CsvImportDialog>()), text_(text) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    const std::u16string& delimiter = paths_.state->settings.delimiter;
    delimiterBox()->setText(qstr(delimiter));  // the edit keeps its first character
    tabDelimiterBox()->setChecked(IsTabDelimiter(delimiter));
    delimiterBox()->setEnabled(!tabDelimiterBox()->isChecked());
    if (const auto header = GetText(paths_.state->language, text::kCsvFields); !header.empty())
        list()->setHeaderLabels({qstr(header)});
    fill();
    ApplyDialogTexts(this, paths_, kCsvImportTexts);

    connect(tabDelimiterBox(), &QCheckBox::toggled, this, &CsvImportDialog::tabToggled);
    connect(refreshButton(), &QPushButton::clicked, this, &CsvImportDialog::fill);
    connect(list(), &QTreeWidget::itemChanged, this, &CsvImportDialog::itemChanged);
    connect(okButton(), &QPushButton::clicked, this, &CsvImportDialog::accept);
    connect(cancelButton(), &QPushButton::clicked, this, [this] { done(kCsvImportCancelled); });
}

CsvImportDialog::~CsvImportDialog() = default;

void CsvImportDialog::fill() {
    // The header is split with the delimiter the data lines will be read
    // with: an empty edit means ",", and the edit then shows it.
    std::u16string& setting = paths_.state->settings.delimiter;
    setting = DelimiterSettingFromEdit(u16str(delimiterBox()->text()));
    if (delimiterBox()->text().isEmpty())
        delimiterBox()->setText(qstr(setting));
    filling_ = true;
    list()->clear();
    QList<QTreeWidgetItem*> items;
    for (const std::u16string& field : SplitCsvHeader(text_, DelimiterOf(setting))) {
        auto* item = new QTreeWidgetItem(QStringList{qstr(field)});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        item->setCheckState(0, Qt::Unchecked);
        items.append(item);
    }
    list()->addTopLevelItems(items);
    filling_ = false;
}

void CsvImportDialog::tabToggled(bool checked) {
    delimiterBox()->setEnabled(!checked);
    if (!checked)
        return;  // the tab stays the delimiter until another one is typed
    paths_.state->settings.delimiter = std::u16string(1, kTabDelimiter);
    delimiterBox()->setText(QString(QChar(kTabDelimiter)));
}

void CsvImportDialog::itemChanged(QTreeWidgetItem* item) {
    // At most one field is ticked: ticking another moves the tick.
    if (filling_ || item->checkState(0) == Qt::Unchecked)
        return;
    filling_ = true;
    for (int i = 0; i < list()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* other = list()->topLevelItem(i);
        if (other != item)
            other->setCheckState(0, Qt::Unchecked);
    }
    filling_ = false;
}

void CsvImportDialog::accept() {
    // An empty edit means "," here too, as the header was split with it.
    paths_.state->settings.delimiter = DelimiterSettingFromEdit(u16str(delimiterBox()->text()));
    field_.reset();
    for (int i = 0; i < list()->topLevelItemCount(); ++i)
        if (list()->topLevelItem(i)->checkState(0) != Qt::Unchecked) {
            field_ = static_cast<std::size_t>(i) + 1;
            break;
        }
    done(kCsvImportAccepted);
}

void CsvImportDialog::reject() {
    done(kCsvImportEscaped);
}

CsvImportChoice RunCsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* owner) {
    CsvImportChoice choice;
    if (!paths.state)
        return choice;
    CsvImportDialog dialog(paths, text, owner);
    choice.result = dialog.exec();
    if (choice.result == kCsvImportAccepted)
        choice.field = dialog.field();
    return choice;
}

}  // namespace miravo::ui
