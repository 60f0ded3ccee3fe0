// Start-up, run modes, shut-down clean-up, and the user the program acts as.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/Paths.h"
#include "app/ProfileIni.h"
#include "app/Startup.h"
#include "app/Text.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using namespace std::string_literals;

std::u16string text(const fs::path& path) {
    return fromUtf8(path.string());
}

void touch(const fs::path& path, const std::string& bytes = "data") {
    test::writeBytes(path, bytes);
}

// A file that reads as a job file of the print monitor.
void writeJob(const fs::path& path) {
    test::writeBytes(path, test::utf16le(u"miravo\n", false));
}

// A 1 x 1 GIF image.
const std::string kTinyGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00"
    "\x21\xF9\x04\x01\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00"
    "\x3B",
    43);

// ---------------------------------------------------------------------------
// The run-mode choice from the arguments alone.

TEST(RunModeChoice, NoArgumentIsThePlainMode) {
    const RunPlan plan = ChooseRunMode({}, u"/start");
    EXPECT_FALSE(plan.jobFile.has_value());
    EXPECT_FALSE(plan.configuration);
}

TEST(RunModeChoice, ConfigAloneIsTriedAsAJobAndSelectsOptions) {
    const RunPlan plan = ChooseRunMode({u"/config"}, u"/start");
    ASSERT_TRUE(plan.jobFile.has_value());
    EXPECT_EQ(*plan.jobFile, u"/config");
    EXPECT_TRUE(plan.configuration);
}

TEST(RunModeChoice, ConfigIsOneWholeCaseSensitiveArgument) {
    EXPECT_FALSE(ChooseRunMode({u"/CONFIG"}).configuration);
    EXPECT_FALSE(ChooseRunMode({u"/Config"}).configuration);
    EXPECT_TRUE(ChooseRunMode({u"/spool/job.txt", u"/config"}).configuration);
    EXPECT_FALSE(ChooseRunMode({u"/spool/job.txt", u"x/configy"}).configuration);
    EXPECT_FALSE(ChooseRunMode({u"/spool/config-guide__ps__job_1"}).configuration);
    // The arguments are joined by a space, so a split word does not match.
    EXPECT_FALSE(ChooseRunMode({u"/spool/job.txt", u"/con", u"fig"}).configuration);
    EXPECT_FALSE(ChooseRunMode({u"/spool/job.txt", u"/conf"}).configuration);
}

TEST(RunModeChoice, TheJobFileIsTheFirstArgumentMadeAbsolute) {
    EXPECT_EQ(ChooseRunMode({u"/spool/job.txt", u"/other"}, u"/start").jobFile,
              std::optional<std::u16string>(u"/spool/job.txt"));
    EXPECT_EQ(ChooseRunMode({u"job.txt"}, u"/start").jobFile,
              std::optional<std::u16string>(u"/start/job.txt"));
    EXPECT_EQ(ChooseRunMode({u"job.txt"}, u"/start/").jobFile,
              std::optional<std::u16string>(u"/start/job.txt"));
    // An empty argument names no file and stays empty.
    EXPECT_EQ(ChooseRunMode({u""}, u"/start").jobFile, std::optional<std::u16string>(u""));
}

// The files after the first are one fax with it, in order (a print job of
// several files); options are none of them.
TEST(RunModeChoice, FilesAfterTheFirstJoinItsFax) {
    const struct {
        std::vector<std::u16string> arguments;
        std::vector<std::u16string> more;
    } cases[] = {
        {{u"/spool/job.txt"}, {}},
        {{u"/a.pdf", u"b.png", u"/c.pdf"}, {u"/start/b.png", u"/c.pdf"}},
        {{u"/a.pdf", u"/config", u"/b.pdf"}, {u"/b.pdf"}},
        {{u"/a.pdf", u"--", u"/config"}, {u"/config"}},
        {{u"/a.pdf", u"", u"/" + std::u16string(800, u'b')}, {}},  // empty, too long: none
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseRunMode(c.arguments, u"/start").moreFiles, c.more) << c.arguments.size();
}

TEST(RunModeChoice, AJobPathLongerThanAPathFieldIsNoJob) {
    const std::u16string fits = u"/" + std::u16string(769, u'a');
    EXPECT_EQ(ChooseRunMode({fits}).jobFile, std::optional<std::u16string>(fits));
    EXPECT_FALSE(ChooseRunMode({fits + u"b"}).jobFile.has_value());
    // The limit applies to the absolute path.
    EXPECT_FALSE(ChooseRunMode({std::u16string(765, u'a')}, u"/start").jobFile.has_value());
    // The configuration test still looks at the whole command line.
    EXPECT_TRUE(ChooseRunMode({fits + u"b", u"/config"}).configuration);
}

// "--" ends the options: what follows is a file, whatever its name.
TEST(RunModeChoice, AfterTheEndOfOptionsEveryArgumentIsAFile) {
    const struct {
        std::vector<std::u16string> arguments;
        std::u16string job;
        bool configuration;
    } cases[] = {
        {{u"--", u"/config"}, u"/config", false},
        {{u"--", u"-h"}, u"/start/-h", false},
        {{u"--", u"--export-contacts=x"}, u"/start/--export-contacts=x", false},
        {{u"--", u"/d.pdf", u"/config"}, u"/d.pdf", false},
        {{u"/d.pdf", u"--", u"/config"}, u"/d.pdf", false},
        {{u"/d.pdf", u"/config", u"--", u"/e.pdf"}, u"/d.pdf", true},
        {{u"--", u"--", u"/d.pdf"}, u"/start/--", false},
    };
    for (const auto& c : cases) {
        const RunPlan plan = ChooseRunMode(c.arguments, u"/start");
        EXPECT_EQ(plan.jobFile, std::optional<std::u16string>(c.job)) << toUtf8(c.job);
        EXPECT_EQ(plan.configuration, c.configuration) << toUtf8(c.job);
    }
}

// ---------------------------------------------------------------------------
// The whole run with recording dialogs.

struct Call {
    std::string dialog;
    std::u16string documentPath;
    fs::path currentFolder;
    std::u16string jobFilePath;
};

class RecordingDialogs : public ShellDialogs {
  public:
    std::vector<Call> calls;
    std::function<void(AppPaths&)> onConversion = [](AppPaths&) {};
    std::function<void(AppPaths&)> onOptions = [](AppPaths&) {};
    std::function<void(AppPaths&)> onSend = [](AppPaths&) {};

    void runConversion(AppPaths& paths) override { record("conversion", paths, onConversion); }
    void runOptions(AppPaths& paths) override { record("options", paths, onOptions); }
    void runSendDialog(AppPaths& paths) override { record("send", paths, onSend); }
    void runDocumentConversion(AppPaths& paths, const std::u16string& document) override {
        documents.push_back(document);
        record("document", paths, onDocument);
    }
    void refuseFile(AppPaths& paths, const std::u16string& file) override {
        documents.push_back(file);
        record("refused", paths, [](AppPaths&) {});
    }
    void tellLanguageFileUnreadable(const std::u16string& file,
                                    const std::string& problem) override {
        calls.push_back({"language", file, {}, {}});
        languageProblem = problem;
    }
    std::string languageProblem;
    std::function<void(AppPaths&)> onDocument = [](AppPaths&) {};
    std::vector<std::u16string> documents;

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const Call& c : calls)
            out.push_back(c.dialog);
        return out;
    }

  private:
    void record(const char* name, AppPaths& paths, const std::function<void(AppPaths&)>& then) {
        std::error_code ec;
        calls.push_back({name, paths.state->job.documentPath, fs::current_path(ec),
                         paths.state->job.jobFilePath});
        then(paths);
    }
};

class StartupRun : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = {{"HOME", env("HOME")}, {"XDG_CONFIG_HOME", env("XDG_CONFIG_HOME")}};
        ::setenv("HOME", (home_.path()).c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_.path() / "config").c_str(), 1);
        OverrideApplicationDataFolder(std::nullopt);
        startFolder_ = fs::current_path();
        fs::create_directories(module_.path() / "images");
        touch(module_.path() / "lang.ini", test::utf16le(u"[en]\r\nlang=English\r\n"));
        environment_.settings.moduleFolder = module_.folder();
    }

    void TearDown() override {
        fs::current_path(startFolder_);
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    static std::optional<std::string> env(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }

    fs::path settingsFile() const { return home_.path() / "config" / "Miravo" / "app_config.ini"; }

    void writeSettings(const std::u16string& content) {
        fs::create_directories(settingsFile().parent_path());
        test::writeBytes(settingsFile(), test::utf16le(content));
    }

    std::optional<std::u16string> savedOption(std::u16string_view key) const {
        return ProfileFile::load(settingsFile()).value(u"OPTIONS", key);
    }

    int run(const std::vector<std::u16string>& arguments) {
        return RunMiravo(arguments, dialogs_, state_, environment_);
    }

    TempDir home_;
    TempDir module_;
    TempDir work_;
    fs::path startFolder_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    StartupEnvironment environment_;
    RecordingDialogs dialogs_;
    AppState state_;
};

TEST_F(StartupRun, PlainStartOpensOnlyTheSendDialogAndDeletesOnlyTheCoverPage) {
    // Values left over from an earlier job must not lead the clean-up.
    const fs::path page1 = work_ / "job_7_1";
    touch(page1);
    state_.job.pageBaseName = text(work_ / "job_7");
    state_.job.pageBaseRecorded = true;
    state_.job.pageFileCount = 1;

    const fs::path cover = work_ / "coverpage_and_fax.tiff";
    const fs::path document = work_ / "tosend_res__1.tif";
    touch(cover);
    touch(document);
    dialogs_.onSend = [&](AppPaths& paths) {
        paths.state->job.coverDocumentPath = text(cover);
        paths.state->job.documentPath = text(document);
    };

    EXPECT_EQ(run({}), 0);

    EXPECT_EQ(dialogs_.names(), std::vector<std::string>{"send"});
    EXPECT_EQ(dialogs_.calls[0].documentPath, u"");
    EXPECT_FALSE(fs::exists(cover));
    EXPECT_TRUE(fs::exists(document));
    EXPECT_TRUE(fs::exists(page1));
    EXPECT_FALSE(state_.job.pageBaseRecorded);
    EXPECT_EQ(state_.job.pageFileCount, 0);
}

TEST_F(StartupRun, ConfigAloneRunsTheConversionOnItThenOnlyOptions) {
    EXPECT_EQ(run({u"/config"}), 0);

    ASSERT_EQ(dialogs_.names(), (std::vector<std::string>{"conversion", "options"}));
    EXPECT_EQ(dialogs_.calls[0].jobFilePath, u"/config");
    EXPECT_EQ(dialogs_.calls[1].documentPath, u"");
    EXPECT_EQ(state_.job.documentPath, u"");
}

TEST_F(StartupRun, ConfigInCapitalsOpensTheSendDialog) {
    EXPECT_EQ(run({u"/CONFIG"}), 0);
    EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{"conversion", "send"}));
}

TEST_F(StartupRun, AJobTitledConfigGuideOpensTheSendDialog) {
    const fs::path job = work_ / "config-guide__ps__job_3";
    test::writeBytes(job, test::utf16le(u"miravo\n", false));
    run({text(job)});
    EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{"conversion", "send"}));
}

TEST_F(StartupRun, JobFileFollowedByConfigConvertsThenOpensOptionsWithoutDocument) {
    const fs::path job = work_ / "Letter__ps__17.txt";
    writeJob(job);
    dialogs_.onConversion = [&](AppPaths& paths) {
        paths.state->job.documentPath = text(work_ / "tosend_res__2.tif");
    };

    EXPECT_EQ(run({text(job), u"/config"}), 0);

    ASSERT_EQ(dialogs_.names(), (std::vector<std::string>{"conversion", "options"}));
    EXPECT_EQ(dialogs_.calls[0].jobFilePath, text(job));
    EXPECT_EQ(dialogs_.calls[1].documentPath, u"");
}

TEST_F(StartupRun, JobRunDeletesThePagesTheDocumentAndTheJobFileAtExit) {
    const fs::path job = work_ / "Letter__ps__17.txt";
    const fs::path document = work_ / "tosend_res__3.tif";
    const fs::path unrelated = work_ / "job_17_4";
    writeJob(job);
    for (const fs::path& p : {document, unrelated, work_ / "job_17_1", work_ / "job_17_2"}) {
        touch(p);
    }
    dialogs_.onConversion = [&](AppPaths& paths) {
        FaxJob& j = paths.state->job;
        j.pageBaseName = text(work_ / "job_17");
        j.pageBaseRecorded = true;
        j.pageFileCount = 2;
        j.documentPath = text(document);
    };

    run({text(job)});

    EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{"conversion", "send"}));
    EXPECT_EQ(dialogs_.calls[1].documentPath, text(document));
    EXPECT_FALSE(fs::exists(job));
    EXPECT_FALSE(fs::exists(document));
    EXPECT_FALSE(fs::exists(work_ / "job_17_1"));
    EXPECT_FALSE(fs::exists(work_ / "job_17_2"));
    EXPECT_TRUE(fs::exists(unrelated));
}

TEST_F(StartupRun, ARelativeJobFileMeansTheFolderTheProgramStartedIn) {
    const fs::path job = work_ / "job.txt";
    writeJob(job);
    fs::current_path(work_.path());
    dialogs_.onConversion = [&](AppPaths& paths) {
        paths.state->job.pageBaseRecorded = true;
        paths.state->job.pageBaseName = text(work_ / "job_1");
    };

    run({u"job.txt"});

    ASSERT_FALSE(dialogs_.calls.empty());
    EXPECT_EQ(dialogs_.calls[0].jobFilePath, text(job));
    EXPECT_FALSE(fs::exists(job));
}

// A first argument that is no job file is told by its content: a document
// is printed and converted (and stays where it is after the run), anything
// else is refused; the send dialog opens after either.
TEST_F(StartupRun, ADocumentArgumentIsConvertedAndKeptAndAnythingElseRefused) {
    const fs::path fifo = work_ / "pipe.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string bytes;
        const char* expected;
    } cases[] = {
        {"report.txt", "%PDF-1.7\n", "document"},
        {"letter", "%!PS-Adobe-3.0\n", "document"},
        {"scan.pdf", "\x89PNG\r\n\x1a\n....", "document"},
        {"photo.jpg", "\xFF\xD8\xFF\xE0", "document"},
        {"fax.tif", std::string("II*\0\x08\0\0\0", 8), "document"},
        {"big.tiff", std::string("MM\0*\0\0\0\x08", 8), "document"},
        {"notes.pdf", "just some text", "refused"},
        {"empty.png", "", "refused"},
        {"pipe.pdf", "", "refused"},  // no regular file: never read, never blocks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = work_ / c.name;
        if (file != fifo)
            touch(file, c.bytes);
        // What printing and converting the document leaves behind.
        const fs::path printed = work_ / "job_9";
        writeJob(printed);
        touch(work_ / "job_9_1");
        dialogs_ = RecordingDialogs();
        dialogs_.onDocument = [&](AppPaths& paths) {
            FaxJob& j = paths.state->job;
            j.jobFilePath = j.jobArgument = text(printed);
            j.pageBaseName = text(work_ / "job_9");
            j.pageBaseRecorded = true;
            j.pageFileCount = 1;
        };

        run({text(file)});

        EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{c.expected, "send"}));
        EXPECT_EQ(dialogs_.documents, std::vector<std::u16string>{text(file)});
        EXPECT_TRUE(fs::exists(fs::symlink_status(file)));
        const bool converted = std::string(c.expected) == "document";
        EXPECT_EQ(fs::exists(printed), !converted);
        EXPECT_EQ(fs::exists(work_ / "job_9_1"), !converted);
    }
    // After "--" a document is one, "/config" too.
    dialogs_ = RecordingDialogs();
    run({u"--", text(work_ / "report.txt"), u"/config"});
    EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{"document", "send"}));
    // With "/config" the Options run comes alone, nothing is converted.
    dialogs_ = RecordingDialogs();
    run({text(work_ / "report.txt"), u"/config"});
    EXPECT_EQ(dialogs_.names(), std::vector<std::string>{"options"});
    EXPECT_TRUE(fs::exists(work_ / "report.txt"));
}

// A protected PDF the print backend kept in the spool for its password
// belongs to that print job and goes at the end of the run; the same name
// anywhere else is the user's own document and stays.
TEST_F(StartupRun, AProtectedPdfKeptInTheSpoolGoesWithTheRun) {
    const fs::path spool = home_.path() / ".cache/Miravo/spool";
    fs::create_directories(spool);
    for (const fs::path& pdf :
         {spool / "Locked__ps__pdf_7.pdf", work_ / "Locked__ps__pdf_7.pdf", spool / "Locked.pdf"}) {
        SCOPED_TRACE(pdf.string());
        touch(pdf, "%PDF-1.7\n");
        dialogs_ = RecordingDialogs();
        EXPECT_EQ(run({text(pdf)}), 0);
        EXPECT_EQ(dialogs_.names(), (std::vector<std::string>{"document", "send"}));
        EXPECT_EQ(fs::exists(pdf), pdf != spool / "Locked__ps__pdf_7.pdf");
    }
}

TEST_F(StartupRun, AnOverlongFirstArgumentIsNeitherConvertedNorDeleted) {
    const fs::path job = work_ / "j.txt";
    touch(job);
    // The same file, named with enough "./" to pass the width of a path field.
    std::string name = work_.path().string();
    while (name.size() <= 770)
        name += "/.";
    name += "/j.txt";

    run({fromUtf8(name)});

    EXPECT_EQ(dialogs_.names(), std::vector<std::string>{"send"});
    EXPECT_EQ(dialogs_.calls[0].documentPath, u"");
    EXPECT_TRUE(fs::exists(job));
}

TEST_F(StartupRun, SettingsChangedDuringTheRunAreWrittenAtExit) {
    writeSettings(u"; kept\r\n[OPTIONS]\r\nTIMEOUT=2000\r\nUSER_NAME=old\r\n");
    dialogs_.onOptions = [](AppPaths& paths) {
        EXPECT_EQ(paths.state->settings.timeoutMs, 2000u);
        paths.state->settings.timeoutMs = 5000;
        paths.state->settings.userName = u"ann";
    };

    run({u"/config"});

    EXPECT_EQ(savedOption(u"TIMEOUT"), std::optional<std::u16string>(u"5000"));
    EXPECT_EQ(savedOption(u"USER_NAME"), std::optional<std::u16string>(u"ann"));
    EXPECT_NE(ProfileFile::load(settingsFile()).text().find(u"; kept"), std::u16string::npos);
}

TEST_F(StartupRun, TheModuleFolderIsTheCurrentFolderDuringTheDialogs) {
    run({u"/config"});
    ASSERT_EQ(dialogs_.calls.size(), 2u);
    for (const Call& call : dialogs_.calls) {
        EXPECT_EQ(fs::canonical(call.currentFolder), fs::canonical(module_.path()));
    }
}

TEST_F(StartupRun, AFailingDialogStillSavesTheSettingsAndCleansUp) {
    const fs::path cover = work_ / "coverpage.tiff";
    touch(cover);
    dialogs_.onSend = [&](AppPaths& paths) {
        paths.state->settings.userName = u"kept";
        paths.state->job.coverDocumentPath = text(cover);
        throw std::runtime_error("dialog failed");
    };

    EXPECT_EQ(run({}), 0);

    EXPECT_EQ(savedOption(u"USER_NAME"), std::optional<std::u16string>(u"kept"));
    EXPECT_FALSE(fs::exists(cover));
}

// Without a readable language file every text would be empty: the user is
// told which file and why, and nothing else happens.
TEST_F(StartupRun, AnUnreadableLanguageFileIsToldAndNothingElseHappens) {
    const fs::path langIni = module_.path() / "lang.ini";
    const struct {
        const char* name;
        std::function<void()> damage;
        const char* problem;
    } cases[] = {
        {"missing", [&] { fs::remove(langIni); }, "No such file or directory"},
        {"a folder",
         [&] {
             fs::remove(langIni);
             fs::create_directory(langIni);
         },
         ""},
        {"no language in it", [&] { touch(langIni, "\x01\x02 junk"); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(langIni);
        c.damage();
        fs::remove_all(settingsFile().parent_path());
        const fs::path job = work_ / "letter__ps__job_1";
        writeJob(job);
        dialogs_.calls.clear();

        EXPECT_EQ(run({text(job)}), 1);

        ASSERT_EQ(dialogs_.names(), std::vector<std::string>{"language"});
        EXPECT_EQ(dialogs_.calls[0].documentPath, module_.folder() + u"lang.ini");
        if (*c.problem) {
            EXPECT_EQ(dialogs_.languageProblem, c.problem);
        }
        EXPECT_TRUE(fs::exists(job)) << "the job waits for a run that can show it";
    }
}

// ---------------------------------------------------------------------------
// The header logo of the current language.

TEST_F(StartupRun, TheLogoOfTheLanguageIsLoadedAndItsPathWrittenBack) {
    touch(module_.path() / "images" / "fr_logo.gif", kTinyGif);
    writeSettings(u"[SETTINGS]\r\nlang=fr\r\n");
    bool logoDuringRun = false;
    std::u16string logoPathDuringRun;
    dialogs_.onSend = [&](AppPaths& paths) {
        logoDuringRun = paths.state->logo != nullptr;
        logoPathDuringRun = paths.state->settings.logoPath;
    };

    run({});

    const std::u16string expected = module_.folder() + u"images/fr_logo.gif";
    EXPECT_TRUE(logoDuringRun);
    EXPECT_EQ(logoPathDuringRun, expected);
    EXPECT_FALSE(state_.logo) << "the logo is dropped at exit";
    EXPECT_EQ(savedOption(u"LOGO"), std::optional<std::u16string>(expected));
}

TEST_F(StartupRun, AMissingOrBrokenLogoLeavesNoImage) {
    touch(module_.path() / "images" / "de_logo.gif", "GIF89a but nothing more");
    for (const char16_t* lang : {u"fr", u"de"}) {
        writeSettings(u"[SETTINGS]\r\nlang=" + std::u16string(lang) + u"\r\n");
        bool logo = true;
        dialogs_.onSend = [&](AppPaths& paths) { logo = paths.state->logo != nullptr; };
        EXPECT_EQ(run({}), 0);
        EXPECT_FALSE(logo) << "language " << toUtf8(lang);
    }
}

TEST(StartupLogo, TheFileNameIsReplacedInTheLogosFolder) {
    EXPECT_EQ(LogoPathForLanguage(u"/opt/m/images/en_logo.gif", u"fr", u"/opt/m/"),
              u"/opt/m/images/fr_logo.gif");
    EXPECT_EQ(LogoPathForLanguage(u"/srv/brand/custom.png", u"de", u"/opt/m/"),
              u"/srv/brand/de_logo.gif");
    // Without a folder the logo lies in the module folder.
    EXPECT_EQ(LogoPathForLanguage(u"custom.gif", u"fr", u"/opt/m/"), u"/opt/m/fr_logo.gif");
    EXPECT_EQ(LogoPathForLanguage(u"", u"en", u"/opt/m"), u"/opt/m/en_logo.gif");
}

TEST(StartupLogo, NoPathWhenTheCodeLeavesTheFolderOrTheFieldOverflows) {
    EXPECT_EQ(LogoPathForLanguage(u"/opt/m/images/en_logo.gif", u"../../etc/x", u"/opt/m/"), u"");
    const std::u16string folder = u"/" + std::u16string(757, u'f') + u"/";
    EXPECT_EQ(LogoPathForLanguage(folder + u"a.gif", u"fr", u"/").size(), 770u);
    EXPECT_EQ(LogoPathForLanguage(folder + u"a.gif", u"frr", u"/"), u"");
}

// ---------------------------------------------------------------------------
// The exit clean-up.

class StartupCleanup : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"job_9_1", "job_9_2", "job_9_3", "job_9_4", "job_9", "doc.tif",
                                 "cover.tiff", "Letter__ps__9.txt", "keep.txt"}) {
            touch(dir_ / name);
        }
        job().pageBaseName = text(dir_ / "job_9");
        job().pageFileCount = 3;
        job().documentPath = text(dir_ / "doc.tif");
        job().coverDocumentPath = text(dir_ / "cover.tiff");
    }

    FaxJob& job() { return state_.job; }
    bool exists(const char* name) const { return fs::exists(fs::symlink_status(dir_ / name)); }
    std::u16string jobFile() const { return text(dir_ / "Letter__ps__9.txt"); }

    TempDir dir_;
    AppState state_;
};

TEST_F(StartupCleanup, WithoutAPageBaseOnlyTheCoverPageGoes) {
    job().pageBaseRecorded = false;
    DeleteTemporaryFiles(state_, jobFile());

    EXPECT_FALSE(exists("cover.tiff"));
    for (const char* kept : {"job_9_1", "job_9_2", "job_9_3", "doc.tif", "Letter__ps__9.txt"}) {
        EXPECT_TRUE(exists(kept)) << kept;
    }
}

TEST_F(StartupCleanup, WithAPageBaseThePagesDocumentCoverAndJobFileGo) {
    job().pageBaseRecorded = true;
    DeleteTemporaryFiles(state_, jobFile());

    for (const char* gone :
         {"job_9_1", "job_9_2", "job_9_3", "doc.tif", "cover.tiff", "Letter__ps__9.txt"}) {
        EXPECT_FALSE(exists(gone)) << gone;
    }
    for (const char* kept : {"job_9_4", "job_9", "keep.txt"}) {
        EXPECT_TRUE(exists(kept)) << kept;
    }
}

TEST_F(StartupCleanup, EmptyNamesDeleteNothing) {
    // Relative names would land in the current folder.
    const fs::path before = fs::current_path();
    fs::current_path(dir_.path());
    touch(dir_ / "_1");
    job().pageBaseRecorded = true;
    job().pageBaseName.clear();
    job().documentPath.clear();
    job().coverDocumentPath.clear();

    DeleteTemporaryFiles(state_, u"");
    fs::current_path(before);

    for (const char* kept : {"_1", "job_9_1", "doc.tif", "cover.tiff", "Letter__ps__9.txt"}) {
        EXPECT_TRUE(exists(kept)) << kept;
    }
}

TEST_F(StartupCleanup, FoldersAreNeverDeletedAndLinksGoWithoutTheirTargets) {
    fs::create_directories(dir_ / "folder_1");
    fs::create_directories(dir_ / "folder");
    fs::create_symlink(dir_ / "keep.txt", dir_ / "link.txt");
    job().pageBaseRecorded = true;
    job().pageBaseName = text(dir_ / "folder");
    job().pageFileCount = 1;
    job().documentPath = text(dir_ / "folder");

    DeleteTemporaryFiles(state_, text(dir_ / "link.txt"));

    EXPECT_TRUE(fs::is_directory(dir_ / "folder_1"));
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
    EXPECT_FALSE(exists("link.txt"));
    EXPECT_TRUE(exists("keep.txt"));
}

// ---------------------------------------------------------------------------
// The program acts as the user that runs it, whoever else is logged in.

long threadFsuid() {
    return syscall(SYS_setfsuid, -1);
}

TEST_F(StartupRun, AsRootAnotherUsersDesktopSessionTakesNothingOver) {
    if (geteuid() != 0)
        GTEST_SKIP() << "running as root with another user's session needs root";
    // Another user's process named like a window manager.
    TempDir bin;
    fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::group_exec);
    fs::copy_file("/bin/sleep", bin / "openbox");
    const pid_t session = ::fork();
    ASSERT_GE(session, 0);
    if (session == 0) {
        if (::setgid(4343) == 0 && ::setuid(4242) == 0)
            ::execl((bin / "openbox").c_str(), "openbox", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    struct Killer {
        pid_t pid;
        ~Killer() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } killer{session};
    ::usleep(100 * 1000);  // the session process runs

    run({});
    EXPECT_EQ(threadFsuid(), 0);
    struct stat info {};
    ASSERT_EQ(::stat(settingsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);  // written as root, into root's own HOME
}

}  // namespace
}  // namespace miravo
