// The command lines of miravo that open no window: --help, --version and
// the contact book's vCard import and export. Every other command line (a
// job file, a document, "/config", Qt's own options) goes on to the dialogs
// as before.
#pragma once

#include <string>
#include <vector>

namespace miravo::ui {

struct ToolOptions {
    enum Kind { None, Help, Version, ImportContacts, ExportContacts, Refused } kind = None;
    std::string file;   // the vCard file
    std::string error;  // why the command line was refused
};

ToolOptions ParseToolOptions(const std::vector<std::string>& args);

const char* MiravoUsage();

}  // namespace miravo::ui
