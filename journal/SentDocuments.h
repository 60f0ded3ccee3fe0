// The documents of sent faxes, kept beside the journal in its folder's
// "sent" folder (0700): the fax TIFF as it was uploaded as "<record>.tif"
// and the cover text as "<record>.txt", each 0600 and written whole under a
// temporary name first. The journal's record says whether its document is
// still kept. The oldest documents go first once they are older than the
// days or larger together than the megabytes the settings allow.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "journal/Journal.h"

namespace miravo {

std::filesystem::path SentFolder(const Journal& journal);
std::filesystem::path KeptDocumentPath(const Journal& journal, std::int64_t id);
std::filesystem::path KeptCoverPath(const Journal& journal, std::int64_t id);

struct KeepResult {
    bool kept = false;
    bool diskFull = false;  // the disk (or the user's quota) had no room
    std::string error;      // why it was not kept
};

// Copies `document` (and the cover text, when not empty) for record `id`
// and notes it in the record with the bytes kept. A copy that cannot be
// made leaves no partial file and notes the record "not kept".
KeepResult KeepSentDocument(Journal& journal, std::int64_t id,
                            const std::filesystem::path& document, const std::u16string& coverText);

// The cover text kept for record `id`; empty when none.
std::u16string KeptCoverText(const Journal& journal, std::int64_t id);

// Removes kept documents sent before now - days, then the oldest until the
// rest take at most `megabytes`; each record then says "removed". Returns
// how many were removed.
int ApplyRetention(Journal& journal, std::uint32_t days, std::uint32_t megabytes,
                   std::int64_t now);

}  // namespace miravo
