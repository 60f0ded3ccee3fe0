// Offered at start when print jobs wait in the spool (printed while nobody
// was logged in on a desktop): pick one to convert and send, discard jobs,
// or leave them for later.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "printmon/WaitingJobs.h"

class QTreeWidget;
class QPushButton;

namespace miravo {
class LanguageTable;
}

namespace miravo::ui {

using DiscardJob = std::function<void(const print::WaitingJob&)>;

class WaitingJobsDialog : public QDialog {
    Q_OBJECT
  public:
    // Texts from `language`.
    WaitingJobsDialog(const LanguageTable& language, std::vector<print::WaitingJob> jobs,
                      DiscardJob discard, QWidget* parent = nullptr);

    // The job to convert once the dialog was accepted.
    std::optional<std::filesystem::path> chosen() const { return chosen_; }

  private:
    void convertSelected();
    void discardSelected();
    int selectedIndex() const;

    std::vector<print::WaitingJob> jobs_;
    DiscardJob discard_;
    QTreeWidget* list_ = nullptr;
    QPushButton* convert_ = nullptr;
    QPushButton* discardButton_ = nullptr;
    std::optional<std::filesystem::path> chosen_;
};

// Runs the dialog when `jobs` is not empty; the job file to convert, or none.
std::optional<std::filesystem::path> OfferWaitingJobs(const LanguageTable& language,
                                                      std::vector<print::WaitingJob> jobs,
                                                      DiscardJob discard);

}  // namespace miravo::ui
