// miravo: the send program. Until the desktop dialogs exist, a stand-in
// says which dialog would open and with what.
#include <cstdio>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "app/Text.h"

namespace {

using namespace miravo;

void say(const std::u16string& text) {
    std::printf("%s\n", toUtf8(text).c_str());
    std::fflush(stdout);
}

std::u16string orNone(const std::u16string& text) {
    return text.empty() ? u"(none)" : text;
}

class ConsoleDialogs : public ShellDialogs {
  public:
    void runConversion(AppPaths& paths) override {
        say(u"Converting dialog: the conversion of printed pages arrives with a later release; "
            u"job file: " +
            orNone(paths.state->job.documentPath));
    }
    void runOptions(AppPaths& paths) override {
        say(u"Options dialog: the desktop dialogs arrive with a later release; settings file: " +
            paths.settingsPath + u"; language: " + paths.languageCode);
    }
    void runSendDialog(AppPaths& paths) override {
        const AppState& state = *paths.state;
        say(u"Send dialog: the desktop dialogs arrive with a later release; document: " +
            orNone(state.job.documentPath) + u"; language: " + paths.languageCode + u"; logo: " +
            (state.logo.isNull() ? u"none" : state.settings.logoPath));
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(fromLocal8Bit(argv[i]));
    static AppState state;  // the one record, alive until the process ends
    ConsoleDialogs dialogs;
    return RunMiravo(arguments, dialogs, state);
}
