// The in-memory values of the "OPTIONS" keys, read at start and written at exit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>

namespace miravo {

// Field widths in characters, terminator included: a value is cut to width - 1.
inline constexpr std::size_t kPathWidth = 771;
inline constexpr std::size_t kNameWidth = 260;
inline constexpr std::size_t kCodeWidth = 85;
inline constexpr std::size_t kDelimiterWidth = 4;

struct AppSettings {
    std::u16string userName;          // USER_NAME
    std::u16string password;          // USER_PASS
    std::u16string serviceHost;       // SERV_NAME ("host" or "host:port")
    std::u16string objectPath;        // OBJ_NAME
    std::u16string logoPath;          // LOGO, absolute once loaded
    std::u16string subscribe;         // SUBSCRIBE, the sign-up address
    std::u16string caFile;            // CA_FILE, an extra CA certificate to trust
    std::u16string versionHost;       // VERSION_HOST, "host[:port]" of the version page
    bool showAdvanced = false;        // SHOW_ADVANCED
    bool savePassword = false;        // SAVE_PASS
    // PASS_STORE: "keyring" when the desktop's secret store holds the saved
    // password (USER_PASS is then empty), "file" when USER_PASS does.
    bool passwordInKeyring = false;
    // The host and user name the keyring entry was read or stored under this
    // run: a changed login leaves no stale entry behind.
    std::u16string keyringHost, keyringUser;
    // The user asked in Options for the password to go to the keyring
    // (never written: it holds for this run).
    bool keyringMoveAsked = false;
    bool closeWindow = false;         // CLOSE_WND
    bool transmissionReport = true;   // TRANSITION_REPORT
    bool reportAttach = true;         // TRANSITION_REPORT_ATTACH
    // The conversion method: AUTOMATIC_METHOD, else DITHERING or THRESHOLD
    // (always opposite). Automatic sets neither of the other two. Settings
    // that never chose a method get the automatic one when they are read.
    bool automaticMethod = false;     // AUTOMATIC_METHOD
    bool dithering = false;           // DITHERING
    bool threshold = true;            // THRESHOLD
    bool showPassword = false;        // SHOW_PASS, never read
    std::uint32_t timeoutMs = 1000;   // TIMEOUT, at least 1000
    // MAX_PAGES: the most pages (cover page included) the service takes in
    // one fax; the send dialog says so before an upload that would pass it.
    int maxPages = 200;
    std::u16string delimiter = u",";  // DELIMITER; "TAB" is held as "\t"
    std::u16string lastMassFileDir;   // LAST_DIR_ADD_MASS_FILE
    std::u16string lastDocumentDir;   // LAST_DIR_DOCUMENT: where a document to send was chosen
    std::u16string lastExportDir;     // LAST_DIR_EXPORT: where sent faxes were exported
    std::u16string lastContactsDir;   // LAST_DIR_CONTACTS: where contacts were imported or exported
    // Where the windows were ("x,y,width,height"; empty: where the desktop puts them).
    std::u16string sendWindowPlace;       // WINDOW_SEND
    std::u16string statusWindowPlace;     // WINDOW_STATUS
    std::u16string sentFaxesWindowPlace;  // WINDOW_SENT_FAXES
    std::u16string previewWindowPlace;    // WINDOW_PREVIEW
    // MAX_DESTINATIONS_PER_FAX: the most destinations one fax carries; a
    // longer list goes out as several faxes (batches).
    std::uint32_t maxDestinationsPerFax = 500;
    // DEFAULT_REGION: two capital letters, the region numbers without an
    // international prefix belong to (number checking).
    std::u16string defaultRegion;
    // KEEP_SENT_DAYS, KEEP_SENT_MB: how long and how much of the sent
    // documents are kept beside the journal; the oldest go first.
    std::uint32_t keepSentDays = 90;
    std::uint32_t keepSentMb = 500;
    // CONVERSION_WORKERS: the most pages rendered or converted at once; 0
    // (the default) follows the machine's cores. Set by hand, never written.
    std::uint32_t conversionWorkers = 0;
};

// How many pages are worked on at once: one per core, at most
// CONVERSION_WORKERS when that is set, and at least one.
inline unsigned ConversionWorkerCount(const AppSettings& s) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return s.conversionWorkers == 0 ? cores : std::min<unsigned>(cores, s.conversionWorkers);
}

enum class ConversionMethod { Threshold, Dithering, Automatic };

inline ConversionMethod MethodOf(const AppSettings& s) {
    if (s.automaticMethod)
        return ConversionMethod::Automatic;
    return s.dithering ? ConversionMethod::Dithering : ConversionMethod::Threshold;
}

inline void SetMethod(AppSettings& s, ConversionMethod method) {
    s.automaticMethod = method == ConversionMethod::Automatic;
    s.dithering = method == ConversionMethod::Dithering;
    s.threshold = method == ConversionMethod::Threshold;
}

inline constexpr std::uint32_t kDefaultMaxDestinationsPerFax = 500;
inline constexpr std::uint32_t kMostDestinationsPerFax = 100000;

}  // namespace miravo
