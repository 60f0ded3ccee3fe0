// The desktop program's dialogs for the entry sequence of app/Startup.h:
// the "Converting" dialog (for a job file or a document), Options alone,
// or the send dialog, each run modally without owner.
#pragma once

#include <thread>

#include "app/Startup.h"

namespace miravo::ui {

class QtShellDialogs : public ShellDialogs {
  public:
    // Starts loading, on a thread of its own, what the first windows need
    // from Qt: the image-format plugins (each first image read on the
    // window thread would otherwise open them one by one) and the font
    // database.
    QtShellDialogs();
    ~QtShellDialogs() override;

    void runConversion(AppPaths& paths) override;
    // The entry sequence has cleared documentPath already.
    void runOptions(AppPaths& paths) override;
    void runSendDialog(AppPaths& paths) override;
    void runDocumentConversion(AppPaths& paths, const std::u16string& document) override;
    void refuseFile(AppPaths& paths, const std::u16string& file) override;
    void tellLanguageFileUnreadable(const std::u16string& file,
                                    const std::string& problem) override;

  private:
    std::thread warmUp_;
};

}  // namespace miravo::ui
