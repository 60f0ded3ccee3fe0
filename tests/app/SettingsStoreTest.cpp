#include "app/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "app/NumberCheck.h"
#include "app/PasswordPlace.h"
#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::TempDir;
using test::utf16le;
using test::writeBytes;

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> old_;
};

std::u16string text(const fs::path& path) {
    return FromFsPath(path);
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    SettingsStoreTest()
        : home_("HOME", (root_ / "home").string()),
          config_("XDG_CONFIG_HOME", (root_ / "config").string()),
          documents_("XDG_DOCUMENTS_DIR", (root_ / "home" / "Documents").string()) {
        fs::create_directories(moduleDir());
        fs::create_directories(root_ / "home" / "Documents");
        writeBytes(
            moduleDir() / "lang.ini",
            utf16le(u"[en]\r\nlang=English\r\n1=Send\r\n[de]\r\nlang=Deutsch\r\n1=Senden\r\n"));
    }

    fs::path moduleDir() const { return root_ / "module"; }
    std::u16string moduleFolder() const { return text(moduleDir()) + u"/"; }
    fs::path appDataDir() const { return root_ / "appdata"; }
    fs::path settingsFile() const { return appDataDir() / "app_config.ini"; }
    std::u16string documentsFolder() const { return text(root_ / "home" / "Documents"); }

    SettingsLocation location() const {
        SettingsLocation where;
        where.moduleFolder = moduleFolder();
        where.appDataFolder = appDataDir();
        return where;
    }

    void writeSettings(const std::u16string& content) {
        fs::create_directories(appDataDir());
        writeBytes(settingsFile(), utf16le(content));
    }
    void writeOptions(const std::u16string& lines) { writeSettings(u"[OPTIONS]\r\n" + lines); }

    // Loads into a fresh record, as a new run of the program does.
    const AppSettings& load() {
        state_ = std::make_unique<AppState>();
        paths_ = AppPaths{};
        LoadSettings(paths_, *state_, location());
        return state_->settings;
    }
    std::optional<std::u16string> stored(std::u16string_view section,
                                         std::u16string_view key) const {
        return ProfileFile::load(settingsFile()).value(section, key);
    }

    TempDir root_;
    ScopedEnv home_;
    ScopedEnv config_;
    ScopedEnv documents_;
    std::unique_ptr<AppState> state_;
    AppPaths paths_;
};

// ---- Reading -------------------------------------------------------------

TEST_F(SettingsStoreTest, MissingFileGivesEveryDefault) {
    const AppSettings& s = load();
    EXPECT_EQ(paths_.moduleFolder, moduleFolder());
    EXPECT_EQ(paths_.settingsPath, text(settingsFile()));
    EXPECT_EQ(paths_.languageCode, u"en");
    EXPECT_EQ(paths_.languageFile, moduleFolder() + u"lang.ini");
    EXPECT_EQ(paths_.state, state_.get());
    EXPECT_FALSE(s.showAdvanced);
    EXPECT_FALSE(s.savePassword);
    EXPECT_FALSE(s.closeWindow);
    EXPECT_TRUE(s.transmissionReport);
    EXPECT_TRUE(s.reportAttach);
    EXPECT_EQ(MethodOf(s), ConversionMethod::Automatic);  // no method was ever chosen
    EXPECT_FALSE(s.showPassword);
    EXPECT_EQ(s.timeoutMs, 1000u);
    EXPECT_EQ(s.userName, u"");
    EXPECT_EQ(s.password, u"");
    EXPECT_EQ(s.serviceHost, u"127.0.0.1:8443");
    EXPECT_EQ(s.objectPath, u"api2/proxy.php");
    EXPECT_EQ(s.logoPath, moduleFolder() + u"images/en_logo.gif");
    EXPECT_EQ(s.subscribe, u"https://127.0.0.1:8443/signup");
    EXPECT_EQ(s.delimiter, u",");
    EXPECT_EQ(s.lastMassFileDir, documentsFolder());
    EXPECT_EQ(s.caFile, u"");
    EXPECT_EQ(s.versionHost, u"127.0.0.1:8080");
}

TEST_F(SettingsStoreTest, ReadsEveryKey) {
    writeSettings(
        u"[SETTINGS]\r\nlang=de\r\n"
        u"[OPTIONS]\r\n"
        u"SHOW_ADVANCED=1\r\nSAVE_PASS=1\r\nCLOSE_WND=1\r\nTRANSITION_REPORT=0\r\n"
        u"TRANSITION_REPORT_ATTACH=0\r\nTHRESHOLD=1\r\nTIMEOUT=3000\r\n"
        u"USER_NAME=alice\r\nUSER_PASS=\" s3cret \"\r\nSERV_NAME=fax.example:9443\r\n"
        u"OBJ_NAME=api/x.php\r\nLOGO=/opt/logo/de_logo.gif\r\n"
        u"SUBSCRIBE=https://signup.example/\r\nDELIMITER=;\r\n"
        u"LAST_DIR_ADD_MASS_FILE=/srv/lists\r\nCA_FILE=/etc/ca.pem\r\n"
        u"VERSION_HOST=versions.example:81\r\nMAX_DESTINATIONS_PER_FAX=200\r\n"
        u"DEFAULT_REGION=fr\r\n");
    const AppSettings& s = load();
    EXPECT_EQ(s.maxDestinationsPerFax, 200u);
    EXPECT_EQ(s.defaultRegion, u"FR");
    EXPECT_EQ(paths_.languageCode, u"de");
    EXPECT_TRUE(s.showAdvanced);
    EXPECT_TRUE(s.savePassword);
    EXPECT_TRUE(s.closeWindow);
    EXPECT_FALSE(s.transmissionReport);
    EXPECT_FALSE(s.reportAttach);
    EXPECT_EQ(s.timeoutMs, 3000u);
    EXPECT_EQ(s.userName, u"alice");
    EXPECT_EQ(s.password, u" s3cret ");
    EXPECT_EQ(s.serviceHost, u"fax.example:9443");
    EXPECT_EQ(s.objectPath, u"api/x.php");
    EXPECT_EQ(s.logoPath, u"/opt/logo/de_logo.gif");
    EXPECT_EQ(s.subscribe, u"https://signup.example/");
    EXPECT_EQ(s.delimiter, u";");
    EXPECT_EQ(s.lastMassFileDir, u"/srv/lists");
    EXPECT_EQ(s.caFile, u"/etc/ca.pem");
    EXPECT_EQ(s.versionHost, u"versions.example:81");
}

TEST_F(SettingsStoreTest, TimeoutHasAFloorOf1000) {
    const std::vector<std::pair<std::u16string, std::uint32_t>> cases{
        {u"250", 1000},
        {u"5000", 5000},
        {u"999", 1000},
        {u"1000", 1000},
        {u"1001", 1001},
        {u"0", 1000},
        {u"-5000", 1000},
        {u"abc", 1000},
        {u"", 1000},
        {u" 2500 ", 2500},
        {u"4294967295", 4294967295u},
    };
    for (const auto& [value, expected] : cases) {
        writeOptions(u"TIMEOUT=" + value + u"\r\n");
        EXPECT_EQ(load().timeoutMs, expected) << toUtf8(value);
    }
}

TEST_F(SettingsStoreTest, DelimiterTabInAnyCaseBecomesTheTabCharacter) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases{
        {u"tab", u"\t"}, {u"TAB", u"\t"},   {u"tAb", u"\t"},     {u"  Tab  ", u"\t"}, {u";", u";"},
        {u"|", u"|"},    {u"abcd", u"abc"}, {u"\"TAB\"", u"\t"}, {u"TA", u"TA"},
    };
    for (const auto& [value, expected] : cases) {
        writeOptions(u"DELIMITER=" + value + u"\r\n");
        EXPECT_EQ(load().delimiter, expected) << toUtf8(value);
    }
}

TEST_F(SettingsStoreTest, ThresholdAndDitheringAreAlwaysOpposite) {
    for (const auto& [value, threshold] : std::vector<std::pair<std::u16string, bool>>{
             {u"0", false}, {u"1", true}, {u"7", true}, {u"x", false}}) {
        // DITHERING in the file is never read.
        writeOptions(u"DITHERING=" + std::u16string(threshold ? u"1" : u"0") + u"\r\nTHRESHOLD=" +
                     value + u"\r\n");
        const AppSettings& s = load();
        EXPECT_EQ(s.threshold, threshold) << toUtf8(value);
        EXPECT_EQ(s.dithering, !threshold) << toUtf8(value);
    }
}

TEST_F(SettingsStoreTest, AStoredMethodKeepsItsMeaningAndNoneIsAutomatic) {
    using M = ConversionMethod;
    const std::vector<std::pair<std::u16string, M>> cases{
        {u"", M::Automatic},
        {u"SHOW_ADVANCED=1\r\n", M::Automatic},
        {u"THRESHOLD=1\r\n", M::Threshold},
        {u"THRESHOLD=0\r\n", M::Dithering},
        {u"DITHERING=1\r\n", M::Threshold},  // THRESHOLD decides; it defaults to 1
        {u"DITHERING=1\r\nTHRESHOLD=0\r\n", M::Dithering},
        {u"DITHERING=0\r\nTHRESHOLD=0\r\nAUTOMATIC_METHOD=1\r\n", M::Automatic},
        {u"DITHERING=1\r\nTHRESHOLD=0\r\nAUTOMATIC_METHOD=0\r\n", M::Dithering},
    };
    for (const auto& [lines, method] : cases) {
        writeOptions(lines);
        const AppSettings& s = load();
        EXPECT_EQ(MethodOf(s), method) << toUtf8(lines);
        // Exactly one of the three is set.
        EXPECT_EQ(int(s.automaticMethod) + int(s.dithering) + int(s.threshold), 1) << toUtf8(lines);
    }
    // Each choice comes back as it was saved.
    for (M method : {M::Threshold, M::Dithering, M::Automatic, M::Threshold}) {
        SetMethod(state_->settings, method);
        ASSERT_TRUE(SaveSettings(paths_));
        EXPECT_EQ(MethodOf(load()), method);
    }
}

TEST_F(SettingsStoreTest, ThePrintPathReadsTheConversionKeysAloneAndLeavesTheFileAsItIs) {
    using M = ConversionMethod;
    struct Case {
        std::string lines;  // written as plain 8-bit text, which loading would rewrite
        M method;
        std::uint32_t workers;
    };
    const std::vector<Case> cases{
        {"", M::Automatic, 0},
        {"THRESHOLD=0\r\nCONVERSION_WORKERS=1\r\n", M::Dithering, 1},
        {"THRESHOLD=1\r\nCONVERSION_WORKERS=3\r\n", M::Threshold, 3},
        {"AUTOMATIC_METHOD=1\r\nCONVERSION_WORKERS=many\r\n", M::Automatic, 0},
        {"CONVERSION_WORKERS=99999\r\n", M::Automatic, 1024},
    };
    OverrideApplicationDataFolder(text(appDataDir()));
    for (const Case& c : cases) {
        fs::create_directories(appDataDir());
        const std::string bytes = "[OPTIONS]\r\n" + c.lines;
        writeBytes(settingsFile(), bytes);
        const AppSettings read = ReadConversionSettings();
        EXPECT_EQ(readBytes(settingsFile()), bytes) << c.lines;
        EXPECT_EQ(MethodOf(read), c.method) << c.lines;
        EXPECT_EQ(read.conversionWorkers, c.workers) << c.lines;
        // The program itself reads the same.
        const AppSettings& loaded = load();
        EXPECT_EQ(MethodOf(loaded), c.method) << c.lines;
        EXPECT_EQ(loaded.conversionWorkers, c.workers) << c.lines;
    }
    OverrideApplicationDataFolder(std::nullopt);
    // The workers follow the cores, capped by the key.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    AppSettings s;
    EXPECT_EQ(ConversionWorkerCount(s), cores);
    s.conversionWorkers = 1;
    EXPECT_EQ(ConversionWorkerCount(s), 1u);
    s.conversionWorkers = 1024;
    EXPECT_EQ(ConversionWorkerCount(s), cores);
}

TEST_F(SettingsStoreTest, FlagsAreTrueWhenNonZero) {
    writeOptions(u"SHOW_ADVANCED=2\r\nSAVE_PASS=yes\r\nCLOSE_WND=-1\r\nTRANSITION_REPORT=10\r\n");
    const AppSettings& s = load();
    EXPECT_TRUE(s.showAdvanced);
    EXPECT_FALSE(s.savePassword);  // no digits read as 0
    EXPECT_FALSE(s.closeWindow);   // negative values read as 0
    EXPECT_TRUE(s.transmissionReport);
}

TEST_F(SettingsStoreTest, ShowPassInTheFileHasNoEffect) {
    writeOptions(u"SHOW_PASS=1\r\n");
    EXPECT_FALSE(load().showPassword);
}

TEST_F(SettingsStoreTest, EmptyMassFileFolderBecomesTheDocumentsFolder) {
    writeOptions(u"LAST_DIR_ADD_MASS_FILE=\r\n");
    EXPECT_EQ(load().lastMassFileDir, documentsFolder());
    writeOptions(u"LAST_DIR_ADD_MASS_FILE=  \r\n");
    EXPECT_EQ(load().lastMassFileDir, documentsFolder());
}

TEST_F(SettingsStoreTest, RelativeLogoIsTakenFromTheModuleFolder) {
    writeOptions(u"LOGO=images/de_logo.gif\r\n");
    EXPECT_EQ(load().logoPath, moduleFolder() + u"images/de_logo.gif");
    writeOptions(u"LOGO=/usr/share/pixmaps/x.gif\r\n");
    EXPECT_EQ(load().logoPath, u"/usr/share/pixmaps/x.gif");
}

TEST_F(SettingsStoreTest, ValuesAreCutToTheirFields) {
    const std::u16string longText(2000, u'a');
    writeSettings(u"[SETTINGS]\r\nlang=" + longText + u"\r\n[OPTIONS]\r\nUSER_NAME=" + longText +
                  u"\r\nUSER_PASS=" + longText + u"\r\nSERV_NAME=" + longText + u"\r\nLOGO=" +
                  longText + u"\r\nLAST_DIR_ADD_MASS_FILE=" + longText + u"\r\nCA_FILE=" +
                  longText + u"\r\n");
    const AppSettings& s = load();
    EXPECT_EQ(paths_.languageCode.size(), 84u);
    EXPECT_EQ(s.userName.size(), 259u);
    EXPECT_EQ(s.password.size(), 259u);
    EXPECT_EQ(s.serviceHost.size(), 770u);
    EXPECT_EQ(s.lastMassFileDir.size(), 770u);
    EXPECT_EQ(s.caFile.size(), 770u);
    // The module folder takes part of the logo's room.
    EXPECT_EQ(s.logoPath.size(), 770u);
    EXPECT_EQ(s.logoPath.substr(0, moduleFolder().size()), moduleFolder());
}

TEST_F(SettingsStoreTest, StartClearsTheCoverPageOfTheJob) {
    auto state = std::make_unique<AppState>();
    state->job.coverDocumentPath = u"/tmp/coverpage.tiff";
    state->job.coverPageOn = true;
    AppPaths paths;
    LoadSettings(paths, *state, location());
    EXPECT_EQ(state->job.coverDocumentPath, u"");
    EXPECT_FALSE(state->job.coverPageOn);
    EXPECT_EQ(paths.state, state.get());
}

// ---- The settings file itself --------------------------------------------

TEST_F(SettingsStoreTest, ModuleFolderFileIsMovedAndReplacesTheCopy) {
    writeOptions(u"USER_NAME=old copy\r\n");
    writeBytes(moduleDir() / "app_config.ini", utf16le(u"[OPTIONS]\r\nUSER_NAME=from module\r\n"));
    EXPECT_EQ(load().userName, u"from module");
    EXPECT_FALSE(fs::exists(moduleDir() / "app_config.ini"));
    EXPECT_EQ(stored(u"OPTIONS", u"USER_NAME"), u"from module");
    // The next start finds nothing to move and keeps the moved file.
    EXPECT_EQ(load().userName, u"from module");
}

TEST_F(SettingsStoreTest, ModuleFolderFileIsMovedAcrossFileSystems) {
    // /dev/shm is a memory file system on most machines: a rename from there
    // into the temporary folder fails, so the file is copied and removed.
    struct stat shm {
    }, tmp{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(root_.path().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev) {
        GTEST_SKIP() << "no second file system";
    }
    std::string folder = "/dev/shm/miravo-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    writeBytes(fs::path(folder) / "app_config.ini",
               utf16le(u"[OPTIONS]\r\nUSER_NAME=from module\r\n"));
    writeOptions(u"USER_NAME=old copy\r\n");
    SettingsLocation where = location();
    where.moduleFolder = FromFsPath(folder);
    auto state = std::make_unique<AppState>();
    AppPaths paths;
    LoadSettings(paths, *state, where);
    const bool leftBehind = fs::exists(fs::path(folder) / "app_config.ini");
    fs::remove_all(folder);

    EXPECT_EQ(state->settings.userName, u"from module");
    EXPECT_FALSE(leftBehind);
    EXPECT_EQ(stored(u"OPTIONS", u"USER_NAME"), u"from module");
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(appDataDir()), fs::directory_iterator()), 1);
}

TEST_F(SettingsStoreTest, AnsiFileIsRewrittenAsUnicodeBeforeReading) {
    fs::create_directories(appDataDir());
    writeBytes(settingsFile(), "[OPTIONS]\r\nUSER_NAME=Jos\xE9\r\nDELIMITER=tab\r\n");
    const AppSettings& s = load();
    EXPECT_EQ(s.userName, u"Jos\u00E9");
    EXPECT_EQ(s.delimiter, u"\t");
    EXPECT_EQ(readBytes(settingsFile()),
              utf16le(u"[OPTIONS]\r\nUSER_NAME=Jos\u00E9\r\nDELIMITER=tab\r\n"));
}

TEST_F(SettingsStoreTest, UnicodeFileIsNotTouchedByLoading) {
    writeOptions(u"; mine\r\nUSER_NAME = bob \r\n");
    const std::string before = readBytes(settingsFile());
    EXPECT_EQ(load().userName, u"bob");
    EXPECT_EQ(readBytes(settingsFile()), before);
}

TEST_F(SettingsStoreTest, MissingFileIsCreatedAsAnEmptyUnicodeFile) {
    load();
    EXPECT_EQ(readBytes(settingsFile()), "\xFF\xFE");
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
}

TEST_F(SettingsStoreTest, UnusableAppDataFolderKeepsTheModuleFolderFile) {
    writeBytes(root_ / "plainfile", "x");
    writeBytes(moduleDir() / "app_config.ini", utf16le(u"[OPTIONS]\r\nUSER_NAME=here\r\n"));
    SettingsLocation where = location();
    where.appDataFolder = root_ / "plainfile" / "sub";
    auto state = std::make_unique<AppState>();
    AppPaths paths;
    LoadSettings(paths, *state, where);
    EXPECT_EQ(paths.settingsPath, moduleFolder() + u"app_config.ini");
    EXPECT_EQ(state->settings.userName, u"here");
}

TEST_F(SettingsStoreTest, DefaultAppDataFolderFollowsXdgConfigHome) {
    SettingsLocation where = location();
    where.appDataFolder.reset();
    auto state = std::make_unique<AppState>();
    AppPaths paths;
    LoadSettings(paths, *state, where);
    EXPECT_EQ(paths.settingsPath, text(root_ / "config" / "Miravo" / "app_config.ini"));
    EXPECT_TRUE(fs::exists(root_ / "config" / "Miravo" / "app_config.ini"));
}

// ---- The language file ---------------------------------------------------

TEST_F(SettingsStoreTest, AbsoluteLanguageFileIsUsedUnchanged) {
    writeBytes(root_ / "elsewhere.ini", utf16le(u"[en]\r\nlang=English\r\n"));
    writeSettings(u"[SETTINGS]\r\nlangFile=" + text(root_ / "elsewhere.ini") + u"\r\n");
    load();
    EXPECT_EQ(paths_.languageFile, text(root_ / "elsewhere.ini"));
}

TEST_F(SettingsStoreTest, BareLanguageFileNameMeansTheModuleFolder) {
    writeBytes(moduleDir() / "other.ini", utf16le(u"[en]\r\nlang=English\r\n"));
    writeSettings(u"[SETTINGS]\r\nlangFile=other.ini\r\n");
    load();
    EXPECT_EQ(paths_.languageFile, moduleFolder() + u"other.ini");
}

TEST_F(SettingsStoreTest, MissingLanguageFileFallsBackToLangIni) {
    for (const std::u16string& value : {std::u16string(u"nothere.ini"), text(root_ / "nothere.ini"),
                                        std::u16string(), std::u16string(u"images")}) {
        fs::create_directories(moduleDir() / "images");
        writeSettings(u"[SETTINGS]\r\nlangFile=" + value + u"\r\n");
        load();
        EXPECT_EQ(paths_.languageFile, moduleFolder() + u"lang.ini") << toUtf8(value);
    }
}

TEST_F(SettingsStoreTest, ChosenLanguageIsLoaded) {
    writeSettings(u"[SETTINGS]\r\nlang=de\r\n");
    load();
    EXPECT_EQ(LanguageCode(state_->language), u"de");
    EXPECT_EQ(GetText(state_->language, 1), u"Senden");
}

// A stored region the number check does not know gives way to the locale's;
// the conversion's own reading keeps what the file says and asks no one.
TEST_F(SettingsStoreTest, DefaultRegionIsAKnownOneOrTheLocales) {
    const struct {
        std::u16string stored, loaded, storedAsRead;
    } cases[] = {
        {u"fr", u"FR", u"FR"},
        {u"xx", RegionFromLocale(), u"XX"},
        {u"f1", RegionFromLocale(), u""},
        {u"", RegionFromLocale(), u""},
    };
    for (const auto& c : cases) {
        writeOptions(u"DEFAULT_REGION=" + c.stored + u"\r\n");
        EXPECT_EQ(load().defaultRegion, c.loaded) << toUtf8(c.stored);
        AppState stored;
        AppPaths paths;
        LoadStoredSettings(paths, stored, location());
        EXPECT_EQ(stored.settings.defaultRegion, c.storedAsRead) << toUtf8(c.stored);
    }
}

// ---- Writing at exit -----------------------------------------------------

TEST_F(SettingsStoreTest, WritesEveryKeyInOrder) {
    load();
    ASSERT_TRUE(SaveSettings(paths_));
    const std::u16string expected =
        u"[SETTINGS]\r\nlang=en\r\nlangFile=" + moduleFolder() +
        u"lang.ini\r\n"
        u"[OPTIONS]\r\nSHOW_ADVANCED=0\r\nSAVE_PASS=0\r\nCLOSE_WND=0\r\nTRANSITION_REPORT=1\r\n"
        u"TRANSITION_REPORT_ATTACH=1\r\nSHOW_PASS=0\r\nDITHERING=0\r\nTHRESHOLD=0\r\n"
        u"AUTOMATIC_METHOD=1\r\nTIMEOUT=1000\r\nMAX_PAGES=200\r\nUSER_NAME=\r\nUSER_PASS=\r\nSERV_"
        u"NAME=127.0.0.1:8443\r\n"
        u"OBJ_NAME=api2/proxy.php\r\nSUBSCRIBE=https://127.0.0.1:8443/signup\r\n"
        u"LOGO=" +
        moduleFolder() + u"images/en_logo.gif\r\nDELIMITER=,\r\nLAST_DIR_ADD_MASS_FILE=" +
        documentsFolder() + u"\r\nCA_FILE=\r\nVERSION_HOST=127.0.0.1:8080\r\n" +
        u"MAX_DESTINATIONS_PER_FAX=500\r\nDEFAULT_REGION=" + RegionFromLocale() + u"\r\n";
    EXPECT_EQ(readBytes(settingsFile()), utf16le(expected));
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
}

// The page limit, the folders of the file dialogs and the windows' places
// come back as they were written; a limit that makes no sense is the default.
TEST_F(SettingsStoreTest, PageLimitFoldersAndWindowPlacesRoundTrip) {
    writeOptions(u"MAX_PAGES=0\r\n");
    load();
    EXPECT_EQ(state_->settings.maxPages, 200);
    state_->settings.maxPages = 50;
    state_->settings.lastDocumentDir = u"/home/anna/Offers";
    state_->settings.lastContactsDir = u"/home/anna/Cards";
    state_->settings.sentFaxesWindowPlace = u"10,20,700,500";
    state_->settings.previewWindowPlace = u"0,0,600,700";
    ASSERT_TRUE(SaveSettings(paths_));
    load();
    EXPECT_EQ(state_->settings.maxPages, 50);
    EXPECT_EQ(state_->settings.lastDocumentDir, u"/home/anna/Offers");
    EXPECT_EQ(state_->settings.lastContactsDir, u"/home/anna/Cards");
    EXPECT_EQ(state_->settings.sentFaxesWindowPlace, u"10,20,700,500");
    EXPECT_EQ(state_->settings.previewWindowPlace, u"0,0,600,700");
    EXPECT_TRUE(state_->settings.lastExportDir.empty());
}

// A run that changes a value writes that key alone, in the file's own
// encoding; one that changes nothing leaves the file as it was.
TEST_F(SettingsStoreTest, WritesBackOnlyWhatChangedInTheFilesEncoding) {
    const std::string original =
        "[OPTIONS]\nTIMEOUT=1000\nUSER_NAME=jörg\nMAX_DESTINATIONS_PER_FAX=0\n"
        "DEFAULT_REGION=de\n";
    fs::create_directories(appDataDir());
    writeBytes(settingsFile(), original);
    SettingsLocation where = location();
    where.keepEncoding = true;
    state_ = std::make_unique<AppState>();
    LoadSettings(paths_, *state_, where);
    EXPECT_EQ(state_->settings.userName, u"jörg");
    EXPECT_EQ(state_->settings.maxDestinationsPerFax, 1u);  // at least one per fax
    EXPECT_EQ(state_->settings.defaultRegion, u"DE");
    const AppSettings loaded = state_->settings;

    ASSERT_TRUE(SaveChangedSettings(paths_, loaded));
    EXPECT_EQ(readBytes(settingsFile()), original);
    state_->settings.timeoutMs = 2000;
    ASSERT_TRUE(SaveChangedSettings(paths_, loaded));
    EXPECT_EQ(readBytes(settingsFile()),
              "[OPTIONS]\nTIMEOUT=2000\nUSER_NAME=jörg\nMAX_DESTINATIONS_PER_FAX=0\n"
              "DEFAULT_REGION=de\n");
}

TEST_F(SettingsStoreTest, ThresholdZeroIsWrittenAsDitheringOne) {
    writeOptions(u"THRESHOLD=0\r\n");
    load();
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"DITHERING"), u"1");
    EXPECT_EQ(stored(u"OPTIONS", u"THRESHOLD"), u"0");
}

TEST_F(SettingsStoreTest, PasswordIsWrittenOnlyWhenSaved) {
    writeOptions(u"SAVE_PASS=0\r\nUSER_PASS=from last time\r\n");
    load();
    state_->settings.password = u"typed during the run";
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"USER_PASS"), u"");

    state_->settings.savePassword = true;
    state_->settings.password = u" spaced \"pw\" ";
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"SAVE_PASS"), u"1");
    EXPECT_EQ(load().password, u" spaced \"pw\" ");
}

TEST_F(SettingsStoreTest, TabDelimiterIsWrittenAsTAB) {
    writeOptions(u"DELIMITER=tab\r\n");
    load();
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"DELIMITER"), u"TAB");
    EXPECT_EQ(load().delimiter, u"\t");

    state_->settings.delimiter = u";";
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"DELIMITER"), u";");
    EXPECT_EQ(load().delimiter, u";");
}

TEST_F(SettingsStoreTest, ChangesDuringTheRunBecomeTheNextRunsSettings) {
    writeOptions(u"SHOW_PASS=1\r\n");
    load();
    AppSettings& s = state_->settings;
    s.timeoutMs = 2000;  // lengthened by the service
    s.showPassword = true;
    s.userName = u"carol";
    s.closeWindow = true;
    s.caFile = u"/etc/miravo/ca.pem";
    paths_.languageCode = u"de";
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"SHOW_PASS"), u"1");

    const AppSettings& next = load();
    EXPECT_EQ(next.timeoutMs, 2000u);
    EXPECT_FALSE(next.showPassword);
    EXPECT_EQ(next.userName, u"carol");
    EXPECT_TRUE(next.closeWindow);
    EXPECT_EQ(next.caFile, u"/etc/miravo/ca.pem");
    EXPECT_EQ(paths_.languageCode, u"de");
}

TEST_F(SettingsStoreTest, SavingKeepsCommentsAndOtherKeys) {
    writeSettings(
        u"; written by hand\r\n[OPTIONS]\r\nFUTURE_KEY=keep\r\nTIMEOUT=250\r\n\r\n"
        u"[Extra]\r\nx=1\r\n");
    ::chmod(settingsFile().c_str(), 0644);
    load();
    ASSERT_TRUE(SaveSettings(paths_));
    const std::u16string saved = ProfileFile::load(settingsFile()).text();
    EXPECT_TRUE(saved.starts_with(
        u"; written by "
        u"hand\r\n[OPTIONS]\r\nFUTURE_KEY=keep\r\nTIMEOUT=1000\r\nSHOW_ADVANCED=0\r\n"))
        << toUtf8(saved);
    EXPECT_NE(saved.find(u"\r\n\r\n[Extra]\r\nx=1\r\n[SETTINGS]\r\nlang=en\r\n"),
              std::u16string::npos);
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
}

TEST_F(SettingsStoreTest, ValuesAreCutWhenWritten) {
    load();
    state_->settings.userName = std::u16string(1000, u'u');
    state_->settings.delimiter = u"abcdef";
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"USER_NAME")->size(), 259u);
    EXPECT_EQ(stored(u"OPTIONS", u"DELIMITER"), u"abc");
}

TEST_F(SettingsStoreTest, SavingFailsQuietly) {
    AppPaths noState;
    noState.settingsPath = text(settingsFile());
    EXPECT_FALSE(SaveSettings(noState));
    EXPECT_FALSE(fs::exists(settingsFile()));

    load();
    paths_.settingsPath = text(root_ / "no" / "folder" / "app_config.ini");
    EXPECT_FALSE(SaveSettings(paths_));
}

// ---- Folders -------------------------------------------------------------

class SettingsPathsTest : public ::testing::Test {
  protected:
    TempDir root_;
    ScopedEnv home_{"HOME", (root_ / "home").string() + "/"};
    ScopedEnv config_{"XDG_CONFIG_HOME", (root_ / "cfg").string()};
    ScopedEnv documents_{"XDG_DOCUMENTS_DIR", std::nullopt};
};

TEST_F(SettingsPathsTest, ApplicationDataFolderFollowsXdgConfigHome) {
    EXPECT_EQ(ApplicationDataFolder(), text(root_ / "cfg" / "Miravo"));
    EXPECT_TRUE(fs::is_directory(root_ / "cfg" / "Miravo"));
    EXPECT_EQ(modeOf(root_ / "cfg" / "Miravo"), 0700u);

    ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg");
    EXPECT_EQ(ApplicationDataFolder(), text(root_ / "home" / ".config" / "Miravo"));
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(ApplicationDataFolder(), text(root_ / "home" / ".config" / "Miravo"));
}

TEST_F(SettingsPathsTest, CacheSpoolAndRunFolders) {
    ScopedEnv cacheUnset("XDG_CACHE_HOME", std::nullopt);
    ScopedEnv runtimeUnset("XDG_RUNTIME_DIR", std::nullopt);
    const fs::path defaultCache = root_ / "home" / ".cache" / "Miravo";
    EXPECT_EQ(CacheFolder(), text(defaultCache));
    EXPECT_EQ(modeOf(defaultCache), 0700u);
    EXPECT_EQ(SpoolFolder(), text(defaultCache / "spool"));
    EXPECT_EQ(modeOf(defaultCache / "spool"), 0700u);

    fs::create_directories(root_ / "run");
    ScopedEnv runtime("XDG_RUNTIME_DIR", (root_ / "run").string());
    ScopedEnv cache("XDG_CACHE_HOME", (root_ / "cache").string());
    EXPECT_EQ(SpoolFolder(), text(root_ / "run" / "miravo"));
    EXPECT_EQ(modeOf(root_ / "run" / "miravo"), 0700u);

    // Run folders: unique, private, removed whole without following links.
    const std::u16string first = MakeRunFolder(), second = MakeRunFolder();
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(ToFsPath(first).parent_path(), root_ / "cache" / "Miravo");
    EXPECT_EQ(modeOf(ToFsPath(first)), 0700u);
    writeBytes(root_ / "kept", "user file");
    fs::create_symlink(root_ / "kept", ToFsPath(first) / "link");
    fs::create_directory_symlink(root_.path(), ToFsPath(first) / "up");
    RemoveRunFolder(first);
    EXPECT_FALSE(fs::exists(ToFsPath(first)));
    EXPECT_TRUE(fs::exists(root_ / "kept"));
    RemoveRunFolder(u"relative/run");  // not a folder the program made: nothing
}

TEST_F(SettingsPathsTest, UserDataFilePathJoinsAndCuts) {
    EXPECT_EQ(UserDataFilePath(u"contacts.csv"), text(root_ / "cfg" / "Miravo") + u"/contacts.csv");
    EXPECT_EQ(UserDataFilePath(std::u16string(1000, u'n')).size(), 770u);

    OverrideApplicationDataFolder(text(root_ / "other") + u"/");
    EXPECT_EQ(UserDataFilePath(u"result.xml"), text(root_ / "other") + u"/result.xml");
    EXPECT_TRUE(fs::is_directory(root_ / "other"));
    OverrideApplicationDataFolder(std::nullopt);
    EXPECT_EQ(UserDataFilePath(u"x"), text(root_ / "cfg" / "Miravo") + u"/x");
}

TEST_F(SettingsPathsTest, UnavailableFolderGivesNoPath) {
    writeBytes(root_ / "file", "x");
    ScopedEnv broken("XDG_CONFIG_HOME", (root_ / "file").string());
    EXPECT_EQ(ApplicationDataFolder(), u"");
    EXPECT_EQ(UserDataFilePath(u"contacts.csv"), u"");
}

TEST_F(SettingsPathsTest, DocumentsFolderComesFromXdgUserDirs) {
    fs::create_directories(root_ / "home" / "Docs");
    fs::create_directories(root_ / "cfg");
    // Without any setting: the home folder.
    EXPECT_EQ(DocumentsFolder(), text(root_ / "home"));

    writeBytes(root_ / "cfg" / "user-dirs.dirs",
               "# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    EXPECT_EQ(DocumentsFolder(), text(root_ / "home" / "Docs"));

    writeBytes(root_ / "cfg" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Missing\"\n");
    EXPECT_EQ(DocumentsFolder(), text(root_ / "home"));

    fs::create_directories(root_ / "abs docs");
    ScopedEnv env("XDG_DOCUMENTS_DIR", (root_ / "abs docs").string());
    EXPECT_EQ(DocumentsFolder(), text(root_ / "abs docs"));
    EXPECT_EQ(ProfileFolder(), text(root_ / "home"));
}

TEST_F(SettingsPathsTest, ModuleFolderHoldsTheLanguageFile) {
    const std::u16string folder = ModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), u'/');
    EXPECT_TRUE(fs::exists(ToFsPath(folder + u"lang.ini")));
}

TEST_F(SettingsPathsTest, PathConversionsNeverThrow) {
    const std::u16string name = u"/tmp/\u00E9t\u00E9 \u041C \U0001F600";
    EXPECT_EQ(FromFsPath(ToFsPath(name)), name);
    EXPECT_NO_THROW(ToFsPath(std::u16string(1, char16_t(0xD800))));
    // Names in other encodings keep their bytes both ways.
    for (const std::string bytes :
         {"/tmp/r\xE9sum\xE9", "/x/\xC0\xAF\xED\xA0\x80\xF0\x9F\x98", "/\xFF\xC3\xA9"})
        EXPECT_EQ(ToFsPath(FromFsPath(bytes)).native(), bytes);
    EXPECT_TRUE(IsAbsolutePath(u"/x"));
    EXPECT_FALSE(IsAbsolutePath(u"x/y"));
    EXPECT_FALSE(IsAbsolutePath(u""));
    EXPECT_EQ(WithTrailingSlash(u"/a"), u"/a/");
    EXPECT_EQ(WithTrailingSlash(u"/a/"), u"/a/");
    EXPECT_EQ(WithTrailingSlash(u""), u"");
}


// ---- The saved password in the desktop's keyring ---------------------------

// A secret store in memory; `answers` false stands for no store on the bus,
// `echo` false for one that confirms a write but gives something else back,
// `open` false for one that would first have to start, be made or unlocked.
class MemoryStore : public PasswordStore {
  public:
    bool answers = true;
    bool echo = true;
    bool open = true;
    bool openWithoutPrompt() override { return answers && open; }
    std::map<std::u16string, std::u16string> entries;

    Result read(const std::u16string& host, const std::u16string& user,
                std::u16string& password) override {
        if (!answers)
            return Result::Unavailable;
        const auto it = entries.find(host + u"|" + user);
        if (it == entries.end())
            return Result::NotFound;
        password = echo ? it->second : u"other";
        return Result::Done;
    }
    Result write(const std::u16string& host, const std::u16string& user,
                 const std::u16string& password) override {
        if (!answers)
            return Result::Unavailable;
        entries[host + u"|" + user] = password;
        return Result::Done;
    }
    Result remove(const std::u16string& host, const std::u16string& user) override {
        if (!answers)
            return Result::Unavailable;
        return entries.erase(host + u"|" + user) ? Result::Done : Result::NotFound;
    }
};

TEST_F(SettingsStoreTest, PasswordInTheFileMovesToTheKeyringOnlyWhenItConfirms) {
    const std::u16string withPassword =
        u"SAVE_PASS=1\r\nUSER_NAME=alice\r\nUSER_PASS=s3cret\r\nSERV_NAME=fax.example\r\n";
    struct Case {
        const char* what;
        std::u16string options;
        bool answers, echo;
        bool moved;
        bool open = true;
    } cases[] = {
        {"keyring confirms", withPassword, true, true, true},
        {"no keyring", withPassword, false, true, false},
        {"keyring gives back another", withPassword, true, false, false},
        {"Save password off", u"SAVE_PASS=0\r\nUSER_NAME=alice\r\nUSER_PASS=s3cret\r\n", true,
         true, false},
        {"keyring not open yet", withPassword, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeOptions(c.options);
        MemoryStore store;
        store.answers = c.answers;
        store.echo = c.echo;
        store.open = c.open;
        load();
        LoadPassword(paths_, store);
        EXPECT_EQ(state_->settings.password, u"s3cret");
        EXPECT_EQ(state_->settings.passwordInKeyring, c.moved);
        const std::string bytes = readBytes(settingsFile());
        EXPECT_EQ(bytes.find(utf16le(u"s3cret", false)) == std::string::npos, c.moved);
        if (c.moved) {
            EXPECT_EQ(stored(u"OPTIONS", u"PASS_STORE"), u"keyring");
            EXPECT_EQ(store.entries[u"fax.example|alice"], u"s3cret");
        } else {
            EXPECT_EQ(stored(u"OPTIONS", u"PASS_STORE"), std::nullopt);
        }
        // A keyring that was not open is not written at the end of the run either.
        if (!c.open) {
            StorePassword(state_->settings, store);
            EXPECT_TRUE(store.entries.empty());
            EXPECT_FALSE(state_->settings.passwordInKeyring);
        }
    }
}

// A keyring that was not open: the password stays in the file until the
// user asks for the move, which then goes through at once.
TEST_F(SettingsStoreTest, PasswordMovesIntoAClosedKeyringWhenAsked) {
    writeOptions(u"SAVE_PASS=1\r\nUSER_NAME=alice\r\nUSER_PASS=s3cret\r\nSERV_NAME=fax.example\r\n");
    MemoryStore store;
    store.open = false;
    load();
    LoadPassword(paths_, store);
    EXPECT_FALSE(state_->settings.passwordInKeyring);
    EXPECT_TRUE(MovePasswordToStore(paths_, store));
    EXPECT_TRUE(state_->settings.passwordInKeyring);
    EXPECT_EQ(store.entries[u"fax.example|alice"], u"s3cret");
    EXPECT_EQ(stored(u"OPTIONS", u"USER_PASS"), u"");
    EXPECT_EQ(stored(u"OPTIONS", u"PASS_STORE"), u"keyring");
    // A store that does not take it leaves the file as it was.
    writeOptions(u"SAVE_PASS=1\r\nUSER_NAME=alice\r\nUSER_PASS=s3cret\r\nSERV_NAME=fax.example\r\n");
    store.answers = false;
    load();
    EXPECT_FALSE(MovePasswordToStore(paths_, store));
    EXPECT_EQ(stored(u"OPTIONS", u"USER_PASS"), u"s3cret");
}

TEST_F(SettingsStoreTest, PasswordKeptInTheKeyringFollowsTheRun) {
    writeOptions(u"SAVE_PASS=1\r\nUSER_NAME=alice\r\nUSER_PASS=\r\nSERV_NAME=fax.example\r\n"
                 u"PASS_STORE=keyring\r\n");
    MemoryStore store;
    store.entries[u"fax.example|alice"] = u"from the keyring";
    load();
    LoadPassword(paths_, store);
    EXPECT_EQ(state_->settings.password, u"from the keyring");

    // A new password typed during the run replaces the entry, not the file's value.
    state_->settings.password = u"typed";
    StorePassword(state_->settings, store);
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(store.entries[u"fax.example|alice"], u"typed");
    EXPECT_EQ(stored(u"OPTIONS", u"USER_PASS"), u"");

    // The keyring is gone by the next run: nothing is known, nothing is lost.
    store.answers = false;
    load();
    LoadPassword(paths_, store);
    EXPECT_EQ(state_->settings.password, u"");
    StorePassword(state_->settings, store);
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"PASS_STORE"), u"keyring");

    // A password typed while there is no keyring goes to the file, as before.
    state_->settings.password = u"typed again";
    StorePassword(state_->settings, store);
    ASSERT_TRUE(SaveSettings(paths_));
    EXPECT_EQ(stored(u"OPTIONS", u"USER_PASS"), u"typed again");
    EXPECT_EQ(stored(u"OPTIONS", u"PASS_STORE"), u"file");

    // A login changed during the run leaves no entry under the old one.
    store.answers = true;
    store.entries = {{u"fax.example|alice", u"typed again"}};
    load();
    LoadPassword(paths_, store);
    state_->settings.userName = u"bob";
    StorePassword(state_->settings, store);
    EXPECT_EQ(store.entries, (std::map<std::u16string, std::u16string>{
                                 {u"fax.example|bob", u"typed again"}}));

    // "Save password" turned off takes the entry out of the keyring.
    state_->settings.passwordInKeyring = true;
    state_->settings.savePassword = false;
    StorePassword(state_->settings, store);
    EXPECT_TRUE(store.entries.empty());
    EXPECT_FALSE(state_->settings.passwordInKeyring);
}

}  // namespace
}  // namespace miravo
