#include "ui/CsvImportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
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
QComboBox* CsvImportDialog::nameField() const { return ui_->nameField; }
QTableWidget* CsvImportDialog::preview() const { return ui_->preview; }

namespace {

constexpr std::size_t kPreviewRows = 5;   // data rows shown below the fields
constexpr int kSampleValues = 3;          // values shown beside each field
constexpr int kShownLength = 60;          // characters of a value shown

QString shown(const std::u16string& value) {
    QString text = qstr(value).simplified();
    if (text.size() > kShownLength)
        text = text.left(kShownLength - 1) + QChar(0x2026);
    return text;
}

}  // namespace

CsvImportDialog::CsvImportDialog(AppPaths& paths, std::u16string_view text, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::CsvImportDialog>()), text_(text) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());
    // The file is read with the delimiter it is written with; the one of
    // the last import wins where both would do.
    std::u16string& delimiter = paths_.state->settings.delimiter;
    if (const char16_t found = DetectCsvDelimiter(text_, DelimiterOf(delimiter));
        found != DelimiterOf(delimiter))
        delimiter = std::u16string(1, found);
    delimiterBox()->setText(qstr(delimiter));  // the edit keeps its first character
    tabDelimiterBox()->setChecked(IsTabDelimiter(delimiter));
    delimiterBox()->setEnabled(!tabDelimiterBox()->isChecked());
    const LanguageTable& language = paths_.state->language;
    const auto textOr = [&](int id, const char* fallback) {
        const std::u16string t = GetText(language, id);
        return t.empty() ? QString::fromUtf8(fallback) : qstr(t);
    };
    list()->setHeaderLabels({textOr(text::kCsvFields, "CSV fields"),
                             textOr(text::kCsvSampleValues, "First values")});
    ui_->nameFieldLabel->setText(textOr(text::kCsvNameField, "Name field:"));
    ui_->previewLabel->setText(textOr(text::kCsvPreview, "First rows of the file:"));
    preview()->verticalHeader()->setVisible(false);
    fill();
    ApplyDialogTexts(this, paths_, kCsvImportTexts);

    connect(tabDelimiterBox(), &QCheckBox::toggled, this, &CsvImportDialog::tabToggled);
    connect(refreshButton(), &QPushButton::clicked, this, &CsvImportDialog::fill);
    connect(okButton(), &QPushButton::clicked, this, &CsvImportDialog::accept);
    connect(cancelButton(), &QPushButton::clicked, this, [this] { done(kCsvImportCancelled); });
}

CsvImportDialog::~CsvImportDialog() = default;

void CsvImportDialog::fill() {
    // The header is split with the delimiter the data rows will be read
    // with: an empty edit means ",", and the edit then shows it.
    std::u16string& setting = paths_.state->settings.delimiter;
    setting = DelimiterSettingFromEdit(u16str(delimiterBox()->text()));
    if (delimiterBox()->text().isEmpty())
        delimiterBox()->setText(qstr(setting));
    const std::vector<CsvRow> rows = ParseCsv(text_, DelimiterOf(setting), kPreviewRows + 1);
    const CsvRow header = rows.empty() ? CsvRow() : rows.front();
    const CsvColumns guess = GuessCsvColumns(header);

    list()->clear();
    QList<QTreeWidgetItem*> items;
    for (std::size_t i = 0; i < header.size(); ++i) {
        QStringList samples;
        for (std::size_t r = 1; r < rows.size() && samples.size() < kSampleValues; ++r)
            if (i < rows[r].size() && !rows[r][i].empty())
                samples << shown(rows[r][i]);
        auto* item = new QTreeWidgetItem(QStringList{shown(header[i]), samples.join(u"; ")});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemNeverHasChildren);
        const bool number = std::find(guess.numbers.begin(), guess.numbers.end(), i + 1) !=
                            guess.numbers.end();
        item->setCheckState(0, number ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(0, qstr(header[i]));
        items.append(item);
    }
    list()->addTopLevelItems(items);
    list()->resizeColumnToContents(0);

    nameField()->clear();
    nameField()->addItem(qstr(GetText(paths_.state->language, text::kCsvNoNameField)));
    for (const std::u16string& field : header)
        nameField()->addItem(shown(field));
    nameField()->setCurrentIndex(guess.name ? static_cast<int>(*guess.name) : 0);

    preview()->clear();
    preview()->setColumnCount(static_cast<int>(header.size()));
    preview()->setRowCount(rows.empty() ? 0 : static_cast<int>(rows.size() - 1));
    QStringList labels;
    for (const std::u16string& field : header)
        labels << shown(field);
    preview()->setHorizontalHeaderLabels(labels);
    for (std::size_t r = 1; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size() && c < header.size(); ++c)
            preview()->setItem(static_cast<int>(r - 1), static_cast<int>(c),
                               new QTableWidgetItem(shown(rows[r][c])));
    preview()->resizeColumnsToContents();
}

void CsvImportDialog::tabToggled(bool checked) {
    delimiterBox()->setEnabled(!checked);
    if (!checked)
        return;  // the tab stays the delimiter until another one is typed
    paths_.state->settings.delimiter = std::u16string(1, kTabDelimiter);
    delimiterBox()->setText(QString(QChar(kTabDelimiter)));
}

void CsvImportDialog::accept() {
    // An empty edit means "," here too, as the header was split with it.
    paths_.state->settings.delimiter = DelimiterSettingFromEdit(u16str(delimiterBox()->text()));
    columns_ = CsvColumns{};
    for (int i = 0; i < list()->topLevelItemCount(); ++i)
        if (list()->topLevelItem(i)->checkState(0) != Qt::Unchecked)
            columns_.numbers.push_back(static_cast<std::size_t>(i) + 1);
    if (nameField()->currentIndex() > 0)
        columns_.name = static_cast<std::size_t>(nameField()->currentIndex());
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
    if (choice.result == kCsvImportAccepted) {
        choice.field = dialog.field();
        choice.columns = dialog.columns();
    }
    return choice;
}

}  // namespace miravo::ui
