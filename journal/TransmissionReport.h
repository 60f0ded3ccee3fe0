// The transmission report of one journal record as a PDF, like the
// confirmation page of a fax machine: date and time, document, fax ids,
// pages, cover page, every destination with its name, final status and
// cost, the total, and a reduced image of the document's first page. A
// long list of destinations goes on over further pages. Drawn with QtGui's
// own PDF writer, so that the window and miravo-send make the same report;
// a QGuiApplication must exist (miravo-send makes one on the offscreen
// platform).
#pragma once

#include <filesystem>
#include <string>

#include "journal/Journal.h"

namespace miravo {

class LanguageTable;

// Writes the report to `out` (whole or not at all). `document` is the kept
// fax document; empty or unreadable: the report says it is not kept.
// False with a reason when the file cannot be written.
bool WriteTransmissionReport(const JournalSend& send, const JournalKeeping& keeping,
                             const std::filesystem::path& document,
                             const LanguageTable& language, const std::filesystem::path& out,
                             std::string& error);

// The status words of a destination as a report shows them.
std::u16string ReportStatusText(const LanguageTable& language, const JournalDestination& d);

}  // namespace miravo
