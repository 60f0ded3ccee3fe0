#include "ui/OpenFaxChoiceDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/LanguageTable.h"
#include "ui/AccessibleNames.h"
#include "ui/DialogControls.h"
#include "ui/TextIds.h"

namespace miravo::ui {

OpenFaxChoiceDialog::OpenFaxChoiceDialog(const LanguageTable& language,
                                         const std::vector<OpenFaxOnBus>& faxes, QWidget* parent)
    : QDialog(parent) {
    const auto textOf = [&language](int id) { return qstr(GetText(language, id)); };
    setObjectName(QStringLiteral("openFaxChoice"));
    setWindowTitle(textOf(text::kOpenFaxTitle));
    auto* layout = new QVBoxLayout(this);
    auto* question = new QLabel(textOf(text::kOpenFaxQuestion), this);
    question->setWordWrap(true);
    layout->addWidget(question);
    auto* listLabel = new QLabel(textOf(text::kOpenFaxList), this);
    layout->addWidget(listLabel);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("faxes"));
    listLabel->setBuddy(list_);
    for (const OpenFaxOnBus& fax : faxes) {
        // What another program says is shown as plain text, on one line.
        auto* row = new QListWidgetItem(QString(fax.description).replace('\n', ' '), list_);
        row->setToolTip(row->text());
    }
    list_->setCurrentRow(0);
    layout->addWidget(list_);

    auto* buttons = new QDialogButtonBox(this);
    add_ = buttons->addButton(textOf(text::kOpenFaxAdd), QDialogButtonBox::AcceptRole);
    add_->setObjectName(QStringLiteral("add"));
    add_->setDefault(true);
    buttons->addButton(textOf(text::kOpenFaxNew), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("newFax"));
    layout->addWidget(buttons);
    connect(add_, &QPushButton::clicked, this, &OpenFaxChoiceDialog::addToChosen);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemActivated, this, &OpenFaxChoiceDialog::addToChosen);
    list_->setFocus();
    resize(480, 260);
    ApplyAccessibleNames(this, language);
}

void OpenFaxChoiceDialog::addToChosen() {
    const int row = list_->currentRow();
    if (row < 0)
        return;
    chosen_ = static_cast<std::size_t>(row);
    accept();
}

std::optional<std::size_t> ChooseOpenFaxInDialog(const LanguageTable& language,
                                                 const std::vector<OpenFaxOnBus>& faxes) {
    OpenFaxChoiceDialog dialog(language, faxes);
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

}  // namespace miravo::ui
