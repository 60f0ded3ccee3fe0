// "Sent faxes": the journal of every send, searchable, with the details of
// one send, a Refresh that asks the service again about the faxes that are
// not final (on a worker, with progress) and CSV export.
#pragma once

#include <memory>

#include "journal/Journal.h"
#include "journal/JournalRefresh.h"
#include "ui/WorkerWindow.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTreeWidget;

namespace miravo {
struct AppPaths;
class LanguageTable;
}  // namespace miravo

namespace miravo::ui {

class SentFaxesModel;

class SentFaxesWindow : public WorkerWindow {
    Q_OBJECT
  public:
    SentFaxesWindow(AppPaths& paths, QWidget* parent = nullptr);
    ~SentFaxesWindow() override;

    SentFaxesModel* model() const { return model_; }
    QTableView* table() const { return table_; }
    QLineEdit* searchBox() const { return search_; }
    QLabel* summary() const { return summary_; }
    QTreeWidget* details() const { return details_; }
    QPushButton* refreshButton() const { return refresh_; }
    QLabel* statusLine() const { return status_; }
    QPushButton* viewButton() const { return view_; }
    QPushButton* reportButton() const { return report_; }
    QPushButton* sendAgainFailedButton() const { return againFailed_; }
    QPushButton* sendAgainAllButton() const { return againAll_; }

    // Starts the refresh of every unfinished send.
    void refresh();
    // Writes the selected sends (or all shown) as CSV; false when the file
    // could not be written.
    bool exportTo(const QString& file, bool selectedOnly);

    // The selected send's id; 0 when none is selected.
    std::int64_t currentSend() const;
    // Opens the kept document of the selected send in the preview window.
    void viewDocument();
    // Writes the transmission report of the selected send; false when it
    // could not be written.
    bool saveReport(const QString& file);
    // Opens the send dialog to send the selected record again.
    void sendAgain(bool failedOnly);

  protected:
    void workerBeginProgress(int maximum) override;
    void workerStepProgress() override;
    void workerEnableClose() override {}
    void workerEnded() override;

  private:
    void showDetails();
    void exportWithDialog(bool selectedOnly);
    void reportWithDialog();

    AppPaths& paths_;
    Journal journal_;
    SentFaxesModel* model_ = nullptr;
    QLineEdit* search_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QTreeWidget* details_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QPushButton* view_ = nullptr;
    QPushButton* report_ = nullptr;
    QPushButton* againFailed_ = nullptr;
    QPushButton* againAll_ = nullptr;
    RefreshResult refreshed_;  // written by the worker, read after it ended
};

// Opens the journal and, when an unreadable one had to be moved aside,
// tells the user where it went (this happens once: the fresh journal stays).
void TellIfJournalMovedAside(const LanguageTable& language, QWidget* owner);

// Opens the window modally over `owner`.
int RunSentFaxesWindow(AppPaths& paths, QWidget* owner);

}  // namespace miravo::ui
