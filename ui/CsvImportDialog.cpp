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


CsvImportDialog::CsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::CsvImportDialog>()), text_(text) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    const std::u16string& delimiter = paths_.state->settings.delimiter;
    ui_->id1084->setText(qstr(delimiter));  // the edit keeps its first character
    ui_->id1088->setChecked(IsTabDelimiter(delimiter));
    ui_->id1084->setEnabled(!ui_->id1088->isChecked());
    if (const auto header = GetText(paths_.state->language, text::kCsvFields); !header.empty())
        ui_->id1076->setHeaderLabels({qstr(header)});
    fill();
    ApplyDialogTexts(this, paths_, kCsvImportTexts);

    connect(ui_->id1088, &QCheckBox::toggled, this, &CsvImportDialog::tabToggled);
    connect(ui_->id1086, &QPushButton::clicked, this, &CsvImportDialog::fill);
    connect(ui_->id1076, &QTreeWidget::itemChanged, this, &CsvImportDialog::itemChanged);
    connect(ui_->id1, &QPushButton::clicked, this, &CsvImportDialog::accept);
    connect(ui_->id1029, &QPushButton::clicked, this, [this] { done(kCsvImportCancelled); });
}

CsvImportDialog::~CsvImportDialog() = default;

QTreeWidget* CsvImportDialog::list() const {
    return ui_->id1076;
}

void CsvImportDialog::fill() {
    // The header is split with the delimiter the data lines will be read
    // with: an empty edit means ",", and the edit then shows it.
    std::u16string& setting = paths_.state->settings.delimiter;
    setting = DelimiterSettingFromEdit(u16str(ui_->id1084->text()));
    if (ui_->id1084->text().isEmpty())
        ui_->id1084->setText(qstr(setting));
    filling_ = true;
    ui_->id1076->clear();
    QList<QTreeWidgetItem*> items;
    for (const std::u16string& field : SplitCsvHeader(text_, DelimiterOf(setting))) {
        auto* item = new QTreeWidgetItem(QStringList{qstr(field)});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        item->setCheckState(0, Qt::Unchecked);
        items.append(item);
    }
    ui_->id1076->addTopLevelItems(items);
    filling_ = false;
}

void CsvImportDialog::tabToggled(bool checked) {
    ui_->id1084->setEnabled(!checked);
    if (!checked)
        return;  // the tab stays the delimiter until another one is typed
    paths_.state->settings.delimiter = std::u16string(1, kTabDelimiter);
    ui_->id1084->setText(QString(QChar(kTabDelimiter)));
}

void CsvImportDialog::itemChanged(QTreeWidgetItem* item) {
    // At most one field is ticked: ticking another moves the tick.
    if (filling_ || item->checkState(0) == Qt::Unchecked)
        return;
    filling_ = true;
    for (int i = 0; i < ui_->id1076->topLevelItemCount(); ++i) {
        QTreeWidgetItem* other = ui_->id1076->topLevelItem(i);
        if (other != item)
            other->setCheckState(0, Qt::Unchecked);
    }
    filling_ = false;
}

void CsvImportDialog::accept() {
    // An empty edit means "," here too, as the header was split with it.
    paths_.state->settings.delimiter = DelimiterSettingFromEdit(u16str(ui_->id1084->text()));
    field_.reset();
    for (int i = 0; i < ui_->id1076->topLevelItemCount(); ++i)
        if (ui_->id1076->topLevelItem(i)->checkState(0) != Qt::Unchecked) {
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
