// The send dialog (104), the main window of a run: up to three destination
// rows or a mass-fax list, an optional cover page with free text, the
// preview, three per-send settings, Options, and Send, which hands the job
// to the sending status window. Everything it decides lives in the shared
// record; it keeps only its window state.
#pragma once

#include <QDialog>
#include <QSize>
#include <array>
#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Contact.h"
#include "printmon/PrintJob.h"
#include "ui/Dialogs.h"
#include "ui/OpenFax.h"
#include "ui/OpenFaxPublication.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace Ui {
class SendDialog;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kSendDialogSent = 1;
inline constexpr int kSendDialogClosed = 2;
inline constexpr int kMaxRowText = 254;       // a row's number or name
inline constexpr int kMaxCoverText = 5999;    // the cover-page text

struct DestinationRow {
    std::u16string number;
    std::u16string name;
};

// Asks the user for a document to send, starting in `folder`; empty when
// none was chosen.
using DocumentChooser =
    std::function<QString(QWidget* owner, const QString& folder, const QString& filter)>;
// Replaces the file dialog (tests choose without one); returns the one
// replaced. An empty chooser restores the file dialog.
DocumentChooser SetDocumentChooser(DocumentChooser chooser);
// The same for choosing several documents at once.
using DocumentsChooser =
    std::function<QStringList(QWidget* owner, const QString& folder, const QString& filter)>;
void SetDocumentsChooser(DocumentsChooser chooser);

class FaxComposer;
class FaxPagesView;

struct RowRecipients {
    std::vector<Recipient> recipients;
    bool anyFilled = false;  // some row's number has at least 3 characters
};

// The recipients of the destination rows, in row order. Numbers under 3
// characters leave their row out. "[name]" is a group chosen from the
// contact book: it becomes one group recipient with the members the groups
// index lists for that name (none when the index does not know it; the row
// still counts as filled). Anything else is taken as typed.
RowRecipients RecipientsFromRows(
    const std::array<DestinationRow, 3>& rows,
    const std::map<std::u16string, std::vector<std::u16string>>& groups);

class SendDialog : public QDialog, public OpenFax {
    Q_OBJECT
  public:
    explicit SendDialog(AppPaths& paths, QWidget* parent = nullptr);
    ~SendDialog() override;

    QPlainTextEdit* coverTextBox() const;

    // Runs the dialog modally; a newer version on the version page is
    // offered over it once the page has answered.
    int exec() override;

    // Height and width with the cover box shown, as measured when opening,
    // and the height the cover box with its spacing takes in the layout.
    QSize fullSize() const { return fullSize_; }
    int coverBoxArea() const { return coverArea_; }

    // Takes over what the contact book's Send left in chosenContacts: the
    // first three into the rows; more than three switch to mass-fax mode
    // with all of them as the recipients.
    void applyChosenContacts();

    // Shows the cover page ticked with `text` in its box (sending again).
    void takeCoverText(const QString& text);

    // Converts a document the user chose or dropped and adds its pages at
    // the end of the fax; false (with a message) when it cannot be
    // converted or would pass the page limit.
    bool takeDocument(const QString& path);

    // The open fax: its documents, and more of them added at its end.
    QString description() const override;
    void addDocuments(const QStringList& files) override;

  protected:
    void reject() override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QPushButton* sendButton() const;
    QPushButton* closeButton() const;
    // Unticked, the status window closes itself once the send has ended.
    QCheckBox* statusWindowBox() const;
    QPushButton* optionsButton() const;
    QCheckBox* reportByEmailBox() const;
    QLabel* documentSentence() const;
    QPushButton* previewButton() const;
    QCheckBox* reportAttachBox() const;
    QToolButton* contactBookButton() const;
    QToolButton* massFaxListButton() const;
    QCheckBox* massFaxBox() const;
    QCheckBox* coverPageBox() const;
    QPushButton* chooseDocumentButton() const;
    // The destination rows' boxes, first row first.
    std::array<QLineEdit*, 3> numberBoxes() const;
    std::array<QLineEdit*, 3> nameBoxes() const;

    std::array<DestinationRow, 3> rows() const;
    QString coverBoxText() const;
    // Whether a converted document is there to be sent.
    bool hasDocument() const;
    // A document, numbers, names or a cover text of the user's own.
    bool holdsWork() const;
    void focusFirstNumber();
    // The document sentence, or that there is none yet.
    void showDocumentSentence();
    void chooseDocumentClicked();
    // What the preview window is captioned with.
    QString documentTitle() const;
    // Measures the full size and the cover box's room for the current texts.
    void measure();
    void setRowsEnabled(bool enabled);
    void sendRule(bool fromRow);
    void massFaxClicked();
    void contactBookClicked();
    void massFaxListClicked();
    void coverPageClicked();
    void previewClicked();
    void sendClicked();
    void markNumber(QLineEdit* edit);
    // Numbers that cannot be valid: asks once whether to send anyway,
    // remove them or go back; true when the send goes on.
    bool confirmNumbers();
    void optionsClicked();
    void startVersionCheck();
    void orderTabs();
    // The page count, the characters left, the page limit and the last
    // failure: lines the form does not hold.
    void addInformationLines();
    void showCharactersLeft();
    void tellPasteRefused(int characters);
    // Pages of the fax with the cover page when it is on; 0 without a document.
    int pagesToSend() const;
    // What to say when those pages pass MAX_PAGES; empty when they do not.
    QString pageLimitText() const;
    // Shows the page count and the page limit; true when the limit line
    // came or went (the dialog then needs measuring again).
    bool showPages();
    void showSendFailure(const QString& failure);
    QSize sizeWithoutCoverBox(bool coverShown) const;
    void keepUserSize(bool coverShown);
    void resizeMeasured(QSize size);
    void setWindowShown(bool shown);
    void offerNewerVersion(const std::string& address);

    AppPaths& paths_;
    std::unique_ptr<Ui::SendDialog> ui_;
    QPushButton* sentFaxesButton_ = nullptr;  // beside Options; not in the form
    QSize fullSize_;
    int coverArea_ = 0;
    // The size the user gave the dialog (without the cover box), kept
    // between runs; measuring never makes the dialog smaller than that.
    QSize chosenSize_;
    QSize measuredSize_;  // the size measuring gave it last
    int designMinimumWidth_ = 0;
    std::thread versionCheck_;
    std::thread numberWarmUp_;  // loads the phone-number metadata once
    FaxComposer* composer_ = nullptr;     // the fax's documents and pages
    FaxPagesView* pagesView_ = nullptr;   // their thumbnails
    // The fax's pages changed: counts, limit, Send and Preview follow.
    void faxChanged();
    bool documentNamed_ = false;  // the document line names the fax's first document
    QLabel* pagesLine_ = nullptr;
    QLabel* charactersLeft_ = nullptr;
    QLabel* listCount_ = nullptr;  // how many numbers the mass-fax list holds
    void showListCount();
    QLabel* pageLimitLine_ = nullptr;
    // The likely cost of the fax: its pages times its numbers times the
    // price per page the service gave last (none: not shown).
    QLabel* costLine_ = nullptr;
    std::optional<double> pricePerPage_;
    void showCost();
    QLabel* failureLine_ = nullptr;
    QStringList pendingDocuments_;  // printed while a document converts
    bool adding_ = false;
    // This fax made known to documents printed while it is open; last, so
    // that it is withdrawn before anything else of the dialog goes.
    std::unique_ptr<OpenFaxPublication> openFax_;
};

}  // namespace miravo::ui
