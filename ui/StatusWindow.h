// The sending status window (103): starts the send worker and shows what
// it learns, lets the user minimise the whole sending interface into the
// notification area, and on Close (at any time of the send) ends the
// worker's interest in the fax: the exchange under way is abandoned, but
// nothing is cancelled at the service. Close gives 2, the worker closing
// the window gives 1.
#pragma once

#include <QPointer>
#include <QTimer>
#include <atomic>
#include <memory>

#include "service/SendWorker.h"
#include "ui/CredentialsDialog.h"
#include "ui/DestinationDetails.h"
#include "ui/TrayIcon.h"
#include "ui/WorkerWindow.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class StatusWindow;
}

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

inline constexpr int kStatusWindowClosed = 2;
inline constexpr int kStatusWindowClosedByWorker = 1;
inline constexpr int kPollingTickMs = 100;

class StatusWindow : public WorkerWindow {
    Q_OBJECT
  public:
    // `sendDialog` is hidden and restored together with this window; `tray`
    // is the notification-area icon (none: the desktop's).
    StatusWindow(AppPaths& paths, QWidget* sendDialog, std::unique_ptr<TrayIcon> tray = nullptr,
                 QWidget* parent = nullptr);
    ~StatusWindow() override;

    // How the send waits; set before exec().
    void setSendOptions(const SendOptions& options) { options_ = options; }

    // Starts the send worker when the window opens; exec() as usual.
    int exec() override;

    TrayIcon& trayIcon() { return *tray_; }
    // Every destination with its outcome, offered once the polling ended.
    DestinationDetailsPanel& destinationDetails() { return *details_; }
    bool pollingAnimation() const { return pollTimer_.isActive(); }

    // After the window has ended: whether the service took the fax (then
    // the send is over), and otherwise what went wrong, in the words the
    // window showed, for the send dialog to keep in view.
    bool faxSent() const { return faxSent_; }
    QString failure() const { return failure_; }
    // "Quit" was chosen in the tray icon's menu: the run ends.
    bool quitChosen() const { return quitChosen_; }
    // How the send came out; empty until every destination is final.
    QString outcome() const { return outcome_; }

  protected:
    void workerPolling(bool on) override;
    // The status line also becomes the tray icon's tooltip.
    void workerLabel(int controlId, const QString& text) override;
    void workerEnableClose() override;
    void workerClose(int result) override;
    void workerEnded() override;
    void reject() override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

  private:
    QGroupBox* statusGroup() const;
    QProgressBar* progressBar() const;
    QLabel* faxIdLabel() const;
    QLabel* pagesLabel() const;
    QLabel* estimatedCostLabel() const;
    QLabel* statusLine() const;
    QPushButton* closeButton() const;

    // Shows how the send ended once the worker has finished its sequence.
    void showSendEnd(const SendSummary& summary, std::int32_t errorCode);
    // Every destination final: the summary row, the title and the tray say
    // how the send came out.
    void showOutcome(const SendSummary& summary);
    // Waiting texts and a pending question have nothing left to wait for.
    void clearWaiting();
    // Names each value of the status table by its row or column, with the
    // value it shows, for screen readers.
    void nameValues();
    void closeByUser();
    // A send that ended while the windows were in the notification area is
    // told on the desktop.
    void tellEndWhileHidden(const SendSummary& summary, bool sent);
    // While the service is delivering the fax: whether the user really
    // wants to stop following it here.
    bool stopFollowingConfirmed();
    // The verdicts that are not "OK", after `lead`.
    QString failureWith(const QString& lead) const;
    void minimiseIntoTray();
    void restoreFromTray();
    // Shows the send dialog (when hidden here) and this window again and
    // removes the tray icon.
    void showBothAgain();

    AppPaths& paths_;
    AppState& state_;
    QPointer<QWidget> sendDialog_;
    std::unique_ptr<Ui::StatusWindow> ui_;
    std::unique_ptr<TrayIcon> tray_;
    DialogCredentialsPrompt prompt_;
    SendOptions options_;
    QTimer pollTimer_;
    QTimer closeLater_;
    DestinationDetailsPanel* details_ = nullptr;  // CLOSE_WND: the window closes itself after the send
    bool closing_ = false;  // Close pressed: waiting for the worker to end
    std::atomic<bool> faxSent_{false};  // written by the worker as it ends
    QString failure_;
    QPointer<QWidget> question_;  // "Stop following it here?" while it is asked
    QString outcome_;             // how the send came out, once every destination is final
    bool quitChosen_ = false;
    bool inTray_ = false;
    bool sendHidden_ = false;  // the send dialog was hidden with this window
};

}  // namespace miravo::ui
