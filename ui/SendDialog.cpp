#include "ui/SendDialog.h"

#include <QBoxLayout>
#include <set>

#include "app/NumberCheck.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QShortcut>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QTextCursor>
#include <QTimer>
#include <utility>
#include <QUrl>
#include <algorithm>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "convert/JobFile.h"
#include "service/CoverPage.h"
#include "service/FaxTransmission.h"
#include "ui/CostEstimate.h"
#include "service/VersionCheck.h"
#include "ui/ConvertingDialog.h"
#include "ui/CoverTextBox.h"
#include "ui/DialogChrome.h"
#include "ui/DialogControls.h"
#include "ui/DialogSize.h"
#include "ui/Dialogs.h"
#include "ui/FaxComposer.h"
#include "ui/FaxPagesView.h"
#include "ui/FileDialogFolder.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/Mnemonics.h"
#include "ui/SentFaxesWindow.h"
#include "ui/TextIds.h"
#include "ui/WindowPlacement.h"
#include "ui/WorkerDialog.h"
#include "ui_SendDialog.h"

namespace miravo::ui {

namespace {

// The cover box's text as the dialog first shows it.
constexpr int kCoverTextDefault = 121;

constexpr std::size_t kMinNumberLength = 3;
const QString kProductTitle = ProductTitle();
const QString kVersionPromptCaption = QStringLiteral("Miravo Printer");

std::u16string cut(const std::u16string& text, std::size_t maxLength) {
    return text.size() > maxLength ? text.substr(0, maxLength) : text;
}

bool isGroupNumber(const std::u16string& number) {
    return number.size() >= 2 && number.front() == u'[' && number.back() == u']';
}

// Focus the user gives a control (not the focus a window gets when it opens).
bool userFocus(const QEvent* event) {
    if (event->type() != QEvent::FocusIn)
        return false;
    switch (static_cast<const QFocusEvent*>(event)->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            return true;
        default:
            return false;
    }
}

// What can be sent: what the print monitor renders.
const QStringList kDocumentPatterns = {"*.pdf",  "*.ps",  "*.png", "*.jpg",
                                       "*.jpeg", "*.tif", "*.tiff"};

QStringList chooseWithFileDialog(QWidget* owner, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileNames(owner, QString(), folder, filter);
}

DocumentsChooser& documentsChooser() {
    static DocumentsChooser chooser = chooseWithFileDialog;
    return chooser;
}

// The one chooser of a single document set last (tests); empty: none.
DocumentChooser& singleChooser() {
    static DocumentChooser chooser;
    return chooser;
}

// The local files of a drag that can be sent, in the drag's order; empty
// when any of them cannot.
QStringList droppedDocuments(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    QStringList files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        const QString path = url.toLocalFile();
        const bool known = std::any_of(
            kDocumentPatterns.begin(), kDocumentPatterns.end(),
            [&](const QString& pattern) { return path.endsWith(pattern.mid(1), Qt::CaseInsensitive); });
        if (!known)
            return {};
        files << path;
    }
    return files;
}

void removeFile(const std::u16string& path) {
    std::error_code ec;
    if (!path.empty())
        std::filesystem::remove(ToFsPath(path), ec);
}

}  // namespace

DocumentChooser SetDocumentChooser(DocumentChooser chooser) {
    DocumentChooser previous = std::move(singleChooser());
    singleChooser() = std::move(chooser);
    return previous;
}

void SetDocumentsChooser(DocumentsChooser chooser) {
    documentsChooser() = chooser ? std::move(chooser) : DocumentsChooser(chooseWithFileDialog);
}

RowRecipients RecipientsFromRows(
    const std::array<DestinationRow, 3>& rows,
    const std::map<std::u16string, std::vector<std::u16string>>& groups) {
    RowRecipients out;
    for (const DestinationRow& row : rows) {
        const std::u16string number = cut(row.number, kMaxRowText);
        const std::u16string name = cut(row.name, kMaxRowText);
        if (number.size() < kMinNumberLength)
            continue;
        out.anyFilled = true;
        if (isGroupNumber(number)) {
            const std::u16string groupName = number.substr(1, number.size() - 2);
            const auto found = groups.find(groupName);
            if (found == groups.end())
                continue;
            Recipient group = Contact::full(u"", name, number, u"", u"", groupName);
            group.kind = Group;
            group.state = Synced;
            group.members = found->second;
            out.recipients.push_back(std::move(group));
        } else {
            out.recipients.push_back(Contact::entry(u"0", name, number, u""));
        }
    }
    return out;
}

QPushButton* SendDialog::sendButton() const {
    return ui_->id1;
}
QPushButton* SendDialog::closeButton() const {
    return ui_->id2;
}
QCheckBox* SendDialog::statusWindowBox() const {
    return ui_->id1012;
}
QPushButton* SendDialog::optionsButton() const {
    return ui_->id1016;
}
QCheckBox* SendDialog::reportByEmailBox() const {
    return ui_->id1018;
}
QLabel* SendDialog::documentSentence() const {
    return ui_->id1021;
}
QPushButton* SendDialog::previewButton() const {
    return ui_->id1022;
}
QCheckBox* SendDialog::reportAttachBox() const {
    return ui_->id1068;
}
QToolButton* SendDialog::contactBookButton() const {
    return ui_->id1069;
}
QToolButton* SendDialog::massFaxListButton() const {
    return ui_->id1071;
}
QCheckBox* SendDialog::massFaxBox() const {
    return ui_->id1079;
}
QCheckBox* SendDialog::coverPageBox() const {
    return ui_->id1089;
}
QPlainTextEdit* SendDialog::coverTextBox() const {
    return ui_->id1090;
}
QPushButton* SendDialog::chooseDocumentButton() const {
    return ui_->id1201;
}
std::array<QLineEdit*, 3> SendDialog::numberBoxes() const {
    return {ui_->id1001, ui_->id1002, ui_->id1003};
}
std::array<QLineEdit*, 3> SendDialog::nameBoxes() const {
    return {ui_->id1004, ui_->id1005, ui_->id1006};
}

SendDialog::SendDialog(AppPaths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), ui_(std::make_unique<Ui::SendDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ApplicationIcon());

    AppState& state = *paths_.state;
    // Bracketed group rows resolve through the book's groups index.
    if (state.contactBook.contacts.empty() && state.contactBook.groups.empty())
        state.contactBook.load();

    const AppSettings& settings = state.settings;
    statusWindowBox()->setChecked(!settings.closeWindow);
    reportByEmailBox()->setChecked(settings.transmissionReport);
    reportAttachBox()->setChecked(settings.reportAttach);
    reportAttachBox()->setEnabled(settings.transmissionReport);

    contactBookButton()->setIcon(ContactBookIcon());
    massFaxListButton()->setIcon(MassFaxIcon());
    massFaxListButton()->setEnabled(false);

    state.job.coverPageOn = false;
    state.job.massFaxOn = false;

    // The fax's documents: the one the run converted first, and those
    // added to it; their thumbnails below the document line.
    composer_ = new FaxComposer(paths_, this, documentTitle());
    pagesView_ = new FaxPagesView(paths_, *composer_, this);
    {
        auto* column = static_cast<QBoxLayout*>(layout());
        for (int i = 0; i < column->count(); ++i) {
            if (column->itemAt(i)->layout() == ui_->documentRow) {
                column->insertWidget(i + 1, pagesView_);
                break;
            }
        }
    }
    connect(composer_, &FaxComposer::changed, this, [this] { faxChanged(); });
    documentNamed_ = hasDocument();

    ApplyDialogTexts(this, paths_, kSendDialogTexts);
    setWindowTitle(kProductTitle);
    chooseDocumentButton()->setText(qstr(GetText(state.language, text::kAddDocument)));
    showDocumentSentence();
    setAcceptDrops(true);

    addInformationLines();
    // The phone-number library reads its metadata on first use: done on a
    // thread of its own now, so that the first typed number does not stall
    // the window. Not on Qt's shared pool: Qt splits some painting over that
    // pool and the window thread waits for it, so it must never queue
    // behind this load.
    numberWarmUp_ = std::thread(
        [region = paths_.state->settings.defaultRegion] { NumberChecker(region).check(u"+1"); });

    designMinimumWidth_ = minimumWidth();
    measure();

    // The Send rule runs on every change of the six rows and the cover box
    // (texts set by the program included) and when the user puts the focus
    // into one of them; it does not run while the dialog opens.
    for (QLineEdit* edit : numberBoxes()) {
        connect(edit, &QLineEdit::textChanged, this, [this] { sendRule(true); });
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { markNumber(edit); });
        edit->installEventFilter(this);
    }
    for (QLineEdit* edit : nameBoxes()) {
        connect(edit, &QLineEdit::textChanged, this, [this] { sendRule(true); });
        edit->installEventFilter(this);
    }
    // The cover box holds what the cover page takes: typing stops at the
    // limit, and a longer paste is refused with a word, never cut.
    ui_->id1090->setMaxLength(kMaxCoverText);
    connect(ui_->id1090, &CoverTextBox::insertRefused, this,
            [this](int characters) { tellPasteRefused(characters); });
    connect(coverTextBox(), &QPlainTextEdit::textChanged, this, [this] {
        // A text the program sets (a language's default cover text) is held
        // to the limit as well.
        if (ui_->id1090->length() > kMaxCoverText) {
            coverTextBox()->setPlainText(coverTextBox()->toPlainText().left(kMaxCoverText));
            coverTextBox()->moveCursor(QTextCursor::End);
            return;  // setPlainText raised this again
        }
        showCharactersLeft();
        sendRule(false);
    });
    coverTextBox()->installEventFilter(this);

    // Enter in a row goes on to the next box; Ctrl+Enter sends from anywhere.
    for (auto* shortcut : {new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this),
                           new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this)})
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (sendButton()->isEnabled())
                sendClicked();
        });

    connect(massFaxBox(), &QCheckBox::clicked, this, [this] { massFaxClicked(); });
    connect(contactBookButton(), &QToolButton::clicked, this, [this] { contactBookClicked(); });
    connect(massFaxListButton(), &QToolButton::clicked, this, [this] { massFaxListClicked(); });
    connect(coverPageBox(), &QCheckBox::clicked, this, [this] { coverPageClicked(); });
    connect(previewButton(), &QPushButton::clicked, this, [this] { previewClicked(); });
    connect(chooseDocumentButton(), &QPushButton::clicked, this,
            [this] { chooseDocumentClicked(); });
    connect(optionsButton(), &QPushButton::clicked, this, [this] { optionsClicked(); });
    // "Sent faxes": the journal of the sends so far, beside Options.
    sentFaxesButton_ =
        new QPushButton(qstr(GetText(paths_.state->language, text::kSentFaxes)), this);
    sentFaxesButton_->setObjectName(QStringLiteral("sentFaxes"));
    sentFaxesButton_->setAutoDefault(false);
    ui_->buttonRow->insertWidget(ui_->buttonRow->indexOf(optionsButton()) + 1, sentFaxesButton_);
    connect(sentFaxesButton_, &QPushButton::clicked, this,
            [this] { RunSentFaxesWindow(paths_, this); });
    connect(sendButton(), &QPushButton::clicked, this, [this] { sendClicked(); });
    connect(closeButton(), &QPushButton::clicked, this, [this] { reject(); });

    connect(statusWindowBox(), &QCheckBox::toggled, this,
            [this](bool on) { paths_.state->settings.closeWindow = !on; });
    connect(reportByEmailBox(), &QCheckBox::toggled, this, [this](bool on) {
        paths_.state->settings.transmissionReport = on;
        reportAttachBox()->setEnabled(on);
    });
    connect(reportAttachBox(), &QCheckBox::toggled, this,
            [this](bool on) { paths_.state->settings.reportAttach = on; });
    orderTabs();
    // Send waits for a number from the first moment.
    sendRule(false);
    focusFirstNumber();
}

void SendDialog::focusFirstNumber() {
    // A document is there: what the user types next is a number.
    if (hasDocument() && !paths_.state->job.massFaxOn)
        numberBoxes()[0]->setFocus(Qt::OtherFocusReason);
}

void SendDialog::orderTabs() {
    // Reading order: the document, the rows (number, then name), the
    // contact and mass-fax controls, the settings, the cover page, then the
    // buttons from left to right.
    const auto numbers = numberBoxes();
    const auto names = nameBoxes();
    std::vector<QWidget*> chain{chooseDocumentButton(), pagesView_->list(),
                                pagesView_->turnButton(), pagesView_->removeButton()};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        chain.push_back(numbers[i]);
        chain.push_back(names[i]);
    }
    chain.insert(chain.end(), {contactBookButton(), massFaxBox(), massFaxListButton(),
                               statusWindowBox(), reportByEmailBox(), reportAttachBox(),
                               coverPageBox(), coverTextBox(), previewButton(), optionsButton(),
                               sentFaxesButton_, sendButton(), closeButton()});
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

void SendDialog::addInformationLines() {
    // Beside the mass-fax list button: how many numbers the list holds.
    listCount_ = new QLabel(this);
    listCount_->setObjectName(QStringLiteral("listCount"));
    ui_->massRow->insertWidget(ui_->massRow->indexOf(massFaxListButton()) + 1, listCount_);
    listCount_->hide();
    // Beside the document sentence: how many pages it has.
    pagesLine_ = new QLabel(this);
    pagesLine_->setObjectName(QStringLiteral("documentPages"));
    ui_->documentRow->insertWidget(ui_->documentRow->indexOf(documentSentence()) + 1, pagesLine_);
    // Beside it: what the fax is likely to cost, once the service has
    // priced a send.
    pricePerPage_ = PricePerPageOfTheJournal();
    costLine_ = new QLabel(this);
    costLine_->setObjectName(QStringLiteral("estimatedCost"));
    ui_->documentRow->insertWidget(ui_->documentRow->indexOf(pagesLine_) + 1, costLine_);
    costLine_->hide();
    // Beside the cover page box: the characters still free.
    charactersLeft_ = new QLabel(this);
    charactersLeft_->setObjectName(QStringLiteral("coverCharactersLeft"));
    charactersLeft_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ui_->coverRow->addWidget(charactersLeft_);
    charactersLeft_->hide();
    // Above the buttons: a page limit the send would pass, and why the last
    // send did not go out.
    auto* column = static_cast<QBoxLayout*>(layout());
    int buttons = column->count();
    for (int i = 0; i < column->count(); ++i) {
        if (column->itemAt(i)->layout() == ui_->buttonRow)
            buttons = i;
    }
    for (QLabel** line : {&pageLimitLine_, &failureLine_}) {
        *line = new QLabel(this);
        (*line)->setWordWrap(true);
        (*line)->setTextInteractionFlags(Qt::TextSelectableByMouse);
        (*line)->setStyleSheet(QStringLiteral("color: #b00020;"));
        column->insertWidget(buttons++, *line);
        (*line)->hide();
    }
    pageLimitLine_->setObjectName(QStringLiteral("pageLimit"));
    failureLine_->setObjectName(QStringLiteral("lastSendFailure"));
    showPages();
}

void SendDialog::showCharactersLeft() {
    charactersLeft_->setText(qstr(GetText(paths_.state->language, text::kCoverCharactersLeft,
                                          ui_->id1090->charactersLeft())));
}

void SendDialog::tellPasteRefused(int characters) {
    QMessageBox box(QMessageBox::Warning, kProductTitle,
                    qstr(GetText(paths_.state->language, text::kCoverPasteRefused, characters,
                                 kMaxCoverText)),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("coverPasteRefused"));
    ReserveCaptionRoom(box);
    box.exec();
}

int SendDialog::pagesToSend() const {
    const FaxJob& job = paths_.state->job;
    if (!hasDocument())
        return 0;
    return composer_->pages().pageCount() + (job.coverPageOn ? 1 : 0);
}

QString SendDialog::pageLimitText() const {
    const FaxJob& job = paths_.state->job;
    const int limit = paths_.state->settings.maxPages;
    const int pages = pagesToSend();
    if (pages <= limit)
        return {};
    const LanguageTable& language = paths_.state->language;
    // Without the cover page the document fits: that is the way out.
    if (job.coverPageOn && pages - 1 <= limit)
        return qstr(GetText(language, text::kTooManyPagesWithCover, pages, limit));
    return qstr(GetText(language, text::kTooManyPages, pages, limit));
}

bool SendDialog::showPages() {
    const bool shownBefore = !pageLimitLine_->isHidden();
    const bool document = hasDocument();
    pagesLine_->setVisible(document);
    if (document)
        pagesLine_->setText(qstr(GetText(paths_.state->language, text::kDocumentPages,
                                         static_cast<long long>(composer_->pages().pageCount()))));
    showCost();
    const QString limit = pageLimitText();
    pageLimitLine_->setText(limit);
    pageLimitLine_->setVisible(!limit.isEmpty());
    return shownBefore != !limit.isEmpty();
}

void SendDialog::showCost() {
    if (!costLine_)
        return;
    const FaxJob& job = paths_.state->job;
    std::size_t numbers = 0;
    const std::vector<Recipient> recipients =
        job.massFaxOn ? job.recipients
                      : RecipientsFromRows(rows(), paths_.state->contactBook.groups).recipients;
    for (const Recipient& r : recipients)
        numbers += r.kind == Single ? 1 : r.members.size();
    const bool shown = pricePerPage_ && hasDocument();
    costLine_->setVisible(shown);
    if (!shown)
        return;
    const double cost = *pricePerPage_ * pagesToSend() * static_cast<double>(std::max<std::size_t>(numbers, 1));
    const LanguageTable& language = paths_.state->language;
    costLine_->setText(qstr(GetText(language, text::kEstimatedCostFact,
                                    MoneyText(cost, GetText(language, text::kCurrency)))));
}

void SendDialog::showSendFailure(const QString& failure) {
    failureLine_->setText(
        qstr(GetText(paths_.state->language, text::kLastSendFailed, u16str(failure))));
    failureLine_->setVisible(!failure.isEmpty());
    measure();
}

SendDialog::~SendDialog() {
    if (numberWarmUp_.joinable())
        numberWarmUp_.join();
    // A version answer still on its way is dropped with the dialog.
    if (versionCheck_.joinable())
        versionCheck_.join();
}

bool SendDialog::hasDocument() const {
    // Pages to send, and the record names a converted document (the fax
    // as last made, or its first document).
    return composer_ && !composer_->pages().empty() && !paths_.state->job.documentPath.empty();
}

void SendDialog::showDocumentSentence() {
    const bool document = hasDocument();
    // How a document is converted means nothing before there is one.
    ui_->id1052->setVisible(document);
    if (!document) {
        documentSentence()->setText(qstr(GetText(paths_.state->language, text::kNoDocumentYet)));
        sendButton()->setEnabled(false);
        previewButton()->setEnabled(false);
    }
}

void SendDialog::chooseDocumentClicked() {
    const QString filter = qstr(GetText(paths_.state->language, text::kDocumentsFilter)) + " (" +
                           kDocumentPatterns.join(' ') + ")";
    AppSettings& settings = paths_.state->settings;
    const QString folder = FileDialogFolder(settings.lastDocumentDir);
    QStringList files;
    if (singleChooser()) {
        if (const QString one = singleChooser()(this, folder, filter); !one.isEmpty())
            files << one;
    } else {
        files = documentsChooser()(this, folder, filter);
    }
    if (files.isEmpty())
        return;
    RememberFileDialogFolder(settings.lastDocumentDir, files.front());
    addDocuments(files);
}

void SendDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedDocuments(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void SendDialog::dropEvent(QDropEvent* event) {
    const QStringList files = droppedDocuments(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    // The drag's source waits for the drop to return: convert afterwards.
    QMetaObject::invokeMethod(
        this, [this, files] { addDocuments(files); }, Qt::QueuedConnection);
}

QString SendDialog::description() const {
    return composer_->description();
}

void SendDialog::addDocuments(const QStringList& files) {
    // A print may arrive while an earlier document is still converting (the
    // converting dialog runs an event loop of its own): it waits its turn,
    // so documents join the fax in the order they came.
    pendingDocuments_ << files;
    if (adding_)
        return;
    adding_ = true;
    while (!pendingDocuments_.isEmpty())
        composer_->add(std::exchange(pendingDocuments_, {}));
    adding_ = false;
}

bool SendDialog::takeDocument(const QString& path) {
    return composer_->add({path}) == 1;
}

void SendDialog::faxChanged() {
    FaxJob& job = paths_.state->job;
    // The cover page names the page count: it is made again.
    job.coverText.clear();
    // The fax as it now stands, when it is the one document unchanged.
    if (composer_->pages().asConverted())
        composer_->makeDocument();
    // The first document names the fax in the document line; the cover
    // text typed so far stays when more are added.
    if (!documentNamed_ && hasDocument()) {
        documentNamed_ = true;
        ApplyDialogTexts(this, paths_, kSendDialogTexts);
        chooseDocumentButton()->setText(qstr(GetText(paths_.state->language, text::kAddDocument)));
    }
    showDocumentSentence();
    showPages();
    measure();
    previewButton()->setEnabled(hasDocument());
    sendRule(false);
}

int SendDialog::exec() {
    // Where the user left it last time, as large as it was, and never
    // smaller than its texts need.
    const std::u16string& place = paths_.state->settings.sendWindowPlace;
    ApplyPlacement(this, place);
    if (size() != measuredSize_) {
        chosenSize_ = size();
        measure();
        ApplyPlacement(this, PlacementOf(this));  // measuring may have made it larger
    }
    startVersionCheck();
    activateWindow();
    raise();
    focusFirstNumber();
    // The other files of the print job join the fax once the dialog shows.
    if (!paths_.state->job.moreDocuments.empty()) {
        QStringList more;
        for (const std::u16string& file : paths_.state->job.moreDocuments)
            more << qstr(file);
        paths_.state->job.moreDocuments.clear();
        QTimer::singleShot(0, this, [this, more] { addDocuments(more); });
    }
    // Documents printed from now on may be offered to this fax.
    openFax_ = PublishOpenFax(*this);
    return QDialog::exec();
}

void SendDialog::reject() {
    // Escape, Close and the close box: work in the dialog is not thrown
    // away without a question.
    if (holdsWork() && !ConfirmDiscardWork(this, paths_.state->language))
        return;
    done(kSendDialogClosed);
}

bool SendDialog::holdsWork() const {
    const FaxJob& job = paths_.state->job;
    if (hasDocument())
        return true;
    if (job.massFaxOn ? !job.recipients.empty()
                      : RecipientsFromRows(rows(), paths_.state->contactBook.groups).anyFilled)
        return true;
    for (QLineEdit* name : nameBoxes()) {
        if (!name->text().trimmed().isEmpty())
            return true;
    }
    // The cover text counts once it is the user's own.
    const QString cover = coverTextBox()->toPlainText().trimmed();
    return coverPageBox()->isChecked() && !cover.isEmpty() &&
           cover != qstr(GetText(paths_.state->language, kCoverTextDefault)).trimmed();
}

void SendDialog::done(int result) {
    if (isVisible())
        paths_.state->settings.sendWindowPlace =
            PlacementOf(this, sizeWithoutCoverBox(coverTextBox()->isVisibleTo(this)));
    openFax_.reset();
    QDialog::done(result);
}

bool SendDialog::eventFilter(QObject* watched, QEvent* event) {
    if (userFocus(event))
        sendRule(watched != coverTextBox());
    // Enter in a destination row sends, as the default button does, once
    // there is something to send; before that it goes on to the next box.
    if (event->type() == QEvent::KeyPress && watched != coverTextBox()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & Qt::ControlModifier)) {
            if (sendButton()->isEnabled())
                sendButton()->click();
            else
                focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::array<DestinationRow, 3> SendDialog::rows() const {
    const auto numbers = numberBoxes();
    const auto names = nameBoxes();
    std::array<DestinationRow, 3> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i].number = u16str(numbers[i]->text(), kMaxRowText);
        out[i].name = u16str(names[i]->text(), kMaxRowText);
    }
    return out;
}

QString SendDialog::coverBoxText() const {
    return coverTextBox()->toPlainText().left(kMaxCoverText);
}

void SendDialog::setRowsEnabled(bool enabled) {
    for (QLineEdit* edit : numberBoxes())
        edit->setEnabled(enabled);
    for (QLineEdit* edit : nameBoxes())
        edit->setEnabled(enabled);
}

void SendDialog::sendRule(bool fromRow) {
    FaxJob& job = paths_.state->job;
    if (fromRow)
        job.coverText.clear();  // the next preview makes the cover page again
    bool enable = false;
    if (!coverBoxText().isEmpty() && hasDocument()) {
        const bool anyFilled =
            RecipientsFromRows(rows(), paths_.state->contactBook.groups).anyFilled;
        enable = (anyFilled && !job.massFaxOn) || (job.massFaxOn && !job.recipients.empty());
    }
    sendButton()->setEnabled(enable);
    if (job.coverPageOn)
        previewButton()->setEnabled(enable);
    showCost();  // the numbers may have changed
}

void SendDialog::showListCount() {
    const FaxJob& job = paths_.state->job;
    listCount_->setVisible(job.massFaxOn);
    listCount_->setText(qstr(GetText(paths_.state->language, text::kListCount,
                                     static_cast<long>(job.recipients.size()))));
}

void SendDialog::massFaxClicked() {
    FaxJob& job = paths_.state->job;
    const bool on = massFaxBox()->isChecked();
    setRowsEnabled(!on);
    if (!on) {
        // Back to rows: the first three of the list show in them.
        const auto numbers = numberBoxes();
        const auto names = nameBoxes();
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            const bool listed = i < job.recipients.size();
            numbers[i]->setText(listed ? qstr(cut(job.recipients[i].number, kMaxRowText))
                                       : QString());
            names[i]->setText(listed ? qstr(cut(job.recipients[i].name, kMaxRowText)) : QString());
        }
    }
    // Either way the list starts from the rows, so switching mass fax on
    // seeds it with the numbers already typed.
    RowRecipients fromRows = RecipientsFromRows(rows(), paths_.state->contactBook.groups);
    job.recipients = std::move(fromRows.recipients);
    job.massFaxOn = on;
    massFaxListButton()->setEnabled(on);
    showListCount();
    sendButton()->setEnabled(fromRows.anyFilled && hasDocument());
}

void SendDialog::contactBookClicked() {
    // Only a choice made with the book's Send is taken over: closing the
    // book otherwise leaves the rows and the mode as the user left them.
    if (RunContactBookDialog(paths_, this) == kContactBookSent)
        applyChosenContacts();
}

void SendDialog::applyChosenContacts() {
    FaxJob& job = paths_.state->job;
    const std::vector<Contact> chosen = job.chosenContacts;
    const auto numbers = numberBoxes();
    const auto names = nameBoxes();
    for (std::size_t i = 0; i < chosen.size() && i < numbers.size(); ++i) {
        numbers[i]->setText(qstr(cut(chosen[i].number, kMaxRowText)));
        names[i]->setText(qstr(cut(chosen[i].name, kMaxRowText)));
    }
    const bool mass = chosen.size() > numbers.size();
    massFaxBox()->setChecked(mass);
    job.massFaxOn = mass;
    if (mass)
        job.recipients = chosen;
    setRowsEnabled(!mass);
    massFaxListButton()->setEnabled(mass);
    showListCount();
}

void SendDialog::takeCoverText(const QString& text) {
    coverPageBox()->setChecked(true);
    coverPageClicked();
    coverTextBox()->setPlainText(text.left(kMaxCoverText));
}

void SendDialog::massFaxListClicked() {
    // The list keeps its numbers however it was closed.
    RunMassFaxDialog(paths_, this);
    showListCount();
    sendButton()->setEnabled(hasDocument() && !paths_.state->job.recipients.empty());
    coverPageClicked();
}

void SendDialog::measure() {
    keepUserSize(coverTextBox()->isVisibleTo(this));
    // The full size has the cover box shown; without it the dialog is
    // shorter by exactly the room the box takes, so nothing else moves or
    // gets cut whatever the language and fonts.
    const bool on = coverPageBox()->isChecked();
    setMinimumWidth(designMinimumWidth_);
    coverTextBox()->setVisible(true);
    const int width = std::max(ContentSize(this).width(), [this] {
        coverTextBox()->setVisible(false);
        return ContentSize(this).width();
    }());
    // Wrapped texts are measured at that width, and the dialog may not get
    // narrower, where they would wrap once more and need more height.
    setMinimumWidth(width);
    auto heightWith = [this, width](bool cover) {
        coverTextBox()->setVisible(cover);
        const QSize hint = ContentSize(this);
        return std::max({hint.height(), minimumHeight(),
                         layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : 0});
    };
    const int measuredCollapsed = heightWith(false);
    coverArea_ = std::max(0, heightWith(true) - measuredCollapsed);
    coverTextBox()->setVisible(on);
    layout()->activate();
    const int collapsed = std::max(measuredCollapsed, chosenSize_.height());
    fullSize_ = QSize(std::max(width, chosenSize_.width()), collapsed + coverArea_);
    resizeMeasured(QSize(fullSize_.width(), on ? fullSize_.height() : collapsed));
}

QSize SendDialog::sizeWithoutCoverBox(bool coverShown) const {
    return QSize(width(), height() - (coverShown ? coverArea_ : 0));
}

void SendDialog::keepUserSize(bool coverShown) {
    // Any other size than measuring gave it was chosen by the user: it
    // stays, where the texts fit in it.
    if (isVisible() && size() != measuredSize_)
        chosenSize_ = sizeWithoutCoverBox(coverShown);
    measuredSize_ = size();
}

void SendDialog::resizeMeasured(QSize size) {
    resize(size);
    measuredSize_ = this->size();
}

void SendDialog::coverPageClicked() {
    FaxJob& job = paths_.state->job;
    const bool on = coverPageBox()->isChecked();
    keepUserSize(coverTextBox()->isVisibleTo(this));
    job.coverPageOn = on;
    coverTextBox()->setVisible(on);
    charactersLeft_->setVisible(on);
    showCharactersLeft();
    if (showPages()) {
        measure();  // the page limit line came or went
    } else {
        layout()->activate();  // the minimum size follows the box at once
        const int collapsed = std::max(fullSize_.height() - coverArea_, chosenSize_.height());
        fullSize_ = QSize(std::max(fullSize_.width(), chosenSize_.width()), collapsed + coverArea_);
        resizeMeasured(QSize(fullSize_.width(), on ? fullSize_.height() : collapsed));
    }
    if (!on) {
        previewButton()->setEnabled(hasDocument());
        return;
    }
    job.coverText.clear();
    sendRule(false);
}

QString SendDialog::documentTitle() const {
    // The name the document was printed under, else its file's name.
    const FaxJob& job = paths_.state->job;
    if (!job.jobFilePath.empty())
        return qstr(DocumentName(job.jobFilePath));
    return QFileInfo(qstr(job.documentPath)).fileName();
}

void SendDialog::previewClicked() {
    AppState& state = *paths_.state;
    FaxJob& job = state.job;
    // The fax as its pages stand now.
    if (!composer_->makeDocument())
        return;
    if (!job.coverPageOn) {
        PreviewDocument(this, state.language, job.documentPath, documentTitle(),
                        &state.settings.previewWindowPlace);
        return;
    }
    job.workerTask = CoverPageTask;
    if (!job.massFaxOn)
        job.recipients = RecipientsFromRows(rows(), state.contactBook.groups).recipients;
    const std::u16string text = u16str(coverBoxText());
    if (!text.empty() && text != job.coverText) {
        job.coverText = text;
        // 0: the task closed the dialog itself, 1: it succeeded; else it failed or was cancelled.
        const int made = RunWorkerDialog(paths_, this, text::kCreatingCoverPage);
        if (made != 0 && made != 1) {
            // Made again next time; an older cover page is not this text's.
            job.coverText.clear();
            removeFile(job.coverDocumentPath);
        }
    }
    std::error_code ec;
    if (job.coverDocumentPath.empty() ||
        !std::filesystem::is_regular_file(ToFsPath(job.coverDocumentPath), ec)) {
        QMessageBox box(QMessageBox::Information, kProductTitle,
                        qstr(GetText(state.language, text::kCoverPageNotMade)), QMessageBox::Ok,
                        this);
        box.setObjectName(QStringLiteral("coverPageNotMade"));
        ReserveCaptionRoom(box);
        box.exec();
        return;
    }
    PreviewDocument(this, state.language, job.coverDocumentPath, documentTitle(),
                    &state.settings.previewWindowPlace);
}

void SendDialog::markNumber(QLineEdit* edit) {
    // A number that cannot be valid for the region is marked where it is
    // typed; a chosen group ("[Sales]") is no number to check.
    const std::u16string number = u16str(edit->text());
    const bool group = number.size() >= 2 && number.front() == u'[' && number.back() == u']';
    const AppState& state = *paths_.state;
    const bool invalid = number.size() >= 3 && !group &&
                         !NumberChecker(state.settings.defaultRegion).check(number).valid;
    edit->setStyleSheet(invalid ? QStringLiteral("QLineEdit { color: red; }") : QString());
    edit->setToolTip(invalid ? qstr(GetText(state.language, text::kInvalidNumberHint,
                                            state.settings.defaultRegion))
                             : QString());
}

bool SendDialog::confirmNumbers() {
    AppState& state = *paths_.state;
    FaxJob& job = state.job;
    std::vector<std::u16string> numbers;
    for (const Recipient& r : job.recipients) {
        if (r.kind == Single)
            numbers.push_back(r.number);
        else
            numbers.insert(numbers.end(), r.members.begin(), r.members.end());
    }
    const NumberListCheck check = CheckNumberList(numbers, state.settings.defaultRegion);
    if (check.invalidCount == 0)
        return true;
    QMessageBox box(QMessageBox::Warning, kProductTitle,
                    qstr(GetText(state.language, text::kInvalidNumbersQuestion,
                                 check.invalidCount)),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("invalidNumbers"));
    // Each of them in full, one a line, however many there are.
    QStringList named;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (check.invalid[i])
            named << qstr(numbers[i]);
    }
    box.setDetailedText(named.join(QLatin1Char('\n')));
    QPushButton* anyway =
        box.addButton(qstr(GetText(state.language, text::kSendAnyway)), QMessageBox::AcceptRole);
    QPushButton* remove =
        box.addButton(qstr(GetText(state.language, text::kRemoveThem)), QMessageBox::DestructiveRole);
    QPushButton* back =
        box.addButton(qstr(GetText(state.language, text::kGoBack)), QMessageBox::RejectRole);
    anyway->setObjectName(QStringLiteral("sendAnyway"));
    remove->setObjectName(QStringLiteral("removeInvalid"));
    back->setObjectName(QStringLiteral("goBack"));
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.exec();
    if (box.clickedButton() == anyway)
        return true;
    if (box.clickedButton() != remove)
        return false;
    // The invalid numbers leave the list (and their rows); the rest is sent.
    std::set<std::u16string> invalid;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (check.invalid[i])
            invalid.insert(numbers[i]);
    }
    std::vector<Recipient> kept;
    for (Recipient& r : job.recipients) {
        if (r.kind == Single) {
            if (!invalid.count(r.number))
                kept.push_back(std::move(r));
            continue;
        }
        std::erase_if(r.members, [&](const std::u16string& m) { return invalid.count(m) > 0; });
        if (!r.members.empty())
            kept.push_back(std::move(r));
    }
    job.recipients = std::move(kept);
    if (!job.massFaxOn) {
        const auto numberEdits = numberBoxes();
        const auto nameEdits = nameBoxes();
        for (std::size_t i = 0; i < numberEdits.size(); ++i) {
            if (invalid.count(u16str(numberEdits[i]->text()))) {
                numberEdits[i]->clear();
                nameEdits[i]->clear();
            }
        }
    }
    return !job.recipients.empty();
}

void SendDialog::sendClicked() {
    FaxJob& job = paths_.state->job;
    // A fax the service would refuse for its length is not uploaded.
    if (const QString limit = pageLimitText(); !limit.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, kProductTitle, limit, QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("tooManyPages"));
        ReserveCaptionRoom(box);
        box.exec();
        return;
    }
    // What goes out is one fax of the pages as shown.
    if (!composer_->makeDocument())
        return;
    const bool massFaxBefore = job.massFaxOn;
    job.fromList = job.massFaxOn;
    if (!job.massFaxOn)
        job.recipients = RecipientsFromRows(rows(), paths_.state->contactBook.groups).recipients;
    if (!confirmNumbers())
        return;
    job.coverText = u16str(coverBoxText());
    failureLine_->hide();
    SendAttempt attempt;
    // Nothing joins a fax that is on its way.
    openFax_.reset();
    RunStatusWindow(paths_, this, &attempt);
    if (attempt.faxSent || attempt.quit) {
        done(attempt.faxSent ? kSendDialogSent : kSendDialogClosed);
        return;
    }
    // Nothing went out: the document, the rows, the cover text and the
    // settings stay as they were, for the user to correct and send again.
    // (The transfer marks a send to several numbers as a mass fax.)
    job.massFaxOn = massFaxBefore;
    openFax_ = PublishOpenFax(*this);
    showSendFailure(attempt.failure.isEmpty()
                        ? qstr(GetText(paths_.state->language, text::kNotSent))
                        : attempt.failure);
    setWindowShown(true);
}

void SendDialog::setWindowShown(bool shown) {
    if (!shown)
        return;
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget::setVisible(true);
    raise();
    activateWindow();
}

void SendDialog::optionsClicked() {
    RunOptionsDialog(paths_, this);
    // The language or the conversion method may have changed: new texts
    // need the dialog measured again.
    ApplyDialogTexts(this, paths_, kSendDialogTexts);
    chooseDocumentButton()->setText(qstr(GetText(paths_.state->language, text::kAddDocument)));
    pagesView_->applyTexts();
    sentFaxesButton_->setText(qstr(GetText(paths_.state->language, text::kSentFaxes)));
    showDocumentSentence();
    showPages();
    showCharactersLeft();
    AssignMnemonics(this);
    measure();
}

void SendDialog::startVersionCheck() {
    // The version page may take up to its deadline: it is fetched beside
    // the dialog, which opens at once; a newer version is offered over it
    // when the answer comes.
    const AppSettings settings = paths_.state->settings;
    if (settings.versionHost.empty() || versionCheck_.joinable())
        return;
    versionCheck_ = std::thread([this, settings] {
        std::string address;
        if (CheckForNewerVersion(settings, address))
            QMetaObject::invokeMethod(
                this, [this, address] { offerNewerVersion(address); }, Qt::QueuedConnection);
    });
}

void SendDialog::offerNewerVersion(const std::string& address) {
    if (!isVisible())
        return;
    // Not over another window of the program (the status window of a send
    // under way, Options…): the offer waits until the dialog is in front
    // again, so that it neither interrupts that window nor is built in the
    // same moment as it.
    if (QApplication::activeModalWidget() != this) {
        constexpr int kLookAgainMs = 250;
        QTimer::singleShot(kLookAgainMs, this, [this, address] { offerNewerVersion(address); });
        return;
    }
    QMessageBox prompt(QMessageBox::Information, kVersionPromptCaption,
                       qstr(GetText(paths_.state->language, text::kNewerVersion)),
                       QMessageBox::Ok | QMessageBox::Cancel, this);
    prompt.setObjectName(QStringLiteral("newerVersionPrompt"));
    ReserveCaptionRoom(prompt);
    if (prompt.exec() != QMessageBox::Ok)
        return;
    // Only a plain web address is ever handed to the desktop.
    if (const auto openable = OpenableDownloadAddress(address))
        QDesktopServices::openUrl(QUrl(QString::fromStdString(*openable)));
}

int RunSendDialog(AppPaths& paths, QWidget* owner) {
    if (!paths.state)
        return kSendDialogClosed;
    SendDialog dialog(paths, owner);
    return dialog.exec();
}

}  // namespace miravo::ui
