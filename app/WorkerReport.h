// How a background worker (conversion, worker-dialog task, send worker)
// tells its window what happens. Workers never touch widgets: the Qt
// dialogs implement this with queued calls, the headless sender by
// printing, and tests by recording. No call may block the worker while
// the window's thread waits for the worker to end.
#pragma once

#include <string>

namespace miravo {

class WorkerReport {
  public:
    virtual ~WorkerReport() = default;

    virtual void setTitle(const std::u16string& text) = 0;
    // Sets the text of a label (or the status line) found by its control id.
    virtual void setLabel(int controlId, const std::u16string& text) = 0;
    // Progress bar: a range 0..maximum with position 0, then single steps.
    virtual void beginProgress(int maximum) = 0;
    virtual void stepProgress() = 0;
    // The moving bar of the status polling: on (true) or off (false).
    virtual void setPolling(bool on) = 0;
    virtual void enableClose() = 0;
    // Ends the window with a result.
    virtual void close(int result) = 0;
    // False once the user closed the window; the worker then stops updating it.
    virtual bool isOpen() const = 0;
};

// A report that shows nothing, for runs where only the worker's outcome matters.
class SilentWorkerReport : public WorkerReport {
  public:
    void setTitle(const std::u16string&) override {}
    void setLabel(int, const std::u16string&) override {}
    void beginProgress(int) override {}
    void stepProgress() override {}
    void setPolling(bool) override {}
    void enableClose() override {}
    void close(int) override {}
    bool isOpen() const override { return true; }
};

}  // namespace miravo
