// The backend's own decisions: which titles, user names and senders are
// accepted, what may reach the print system's status channel, where the
// user's session bus is, and what its children inherit.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "printmon/backend/ChildProcess.h"
#include "printmon/backend/DocumentStarts.h"
#include "printmon/PageRanges.h"
#include "printmon/backend/DocumentTitle.h"
#include "printmon/backend/JobOptions.h"
#include "printmon/backend/JobAccess.h"
#include "printmon/backend/JobUser.h"
#include "printmon/backend/SessionBus.h"
#include "printmon/backend/StatusLine.h"
#include "printmon/backend/UserJob.h"
#include "printmon/backend/UserSide.h"
#include "tests/TestSupport.h"

namespace miravo::backend {
namespace {

namespace fs = std::filesystem;

TEST(SafeDocumentTitle, NeverLeavesItsFolderNorBreaksTheName) {
    const struct {
        std::string title, expected;
    } cases[] = {
        {"Quarterly report", "Quarterly report"},
        {"../../etc/passwd", "etc passwd"},
        {".bashrc", "bashrc"},
        {" . .hidden", "hidden"},
        {"a\\b\tc\n\x7f"
         "d",
         "a b c d"},
        {"..", "document"},
        {" / ", "document"},
        {"", "document"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"bad \xC3 \xFF \xED\xA0\x80 end", "bad ? ? ??? end"},
        // C1 controls and direction overrides vanish: "invoice" + RLO + "fdp.exe".
        {"in\xC2\x85voice\xE2\x80\xAE"
         "fdp.exe",
         "invoicefdp.exe"},
        {"\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C"
         "y\xC2\x9B",
         "xy"},
        {std::string(98, 'x') + "\xE2\x82\xAC", std::string(98, 'x')},  // no half character
        {std::string(300, 'y'), std::string(100, 'y')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeDocumentTitle(c.title), c.expected) << c.title;
}

TEST(LookUpJobUser, RefusesNamesThatAreNoAccountAndRoot) {
    for (const std::string& name :
         std::initializer_list<std::string>{"", "../root", ".hidden", "-r", "a/b", "tab\tname",
                                            std::string(300, 'u'), "no-such-user-here", "root"}) {
        std::string error;
        EXPECT_FALSE(LookUpJobUser(name, error).has_value()) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
    std::string error;
    const auto nobody = LookUpJobUser("nobody", error);
    ASSERT_TRUE(nobody.has_value()) << error;
    EXPECT_NE(nobody->uid, 0u);
}

TEST(JobRefusal, OnlyTheAuthenticatedOwnerOfALoginAccount) {
    const struct {
        uid_t uid;
        const char* authUid;
        uid_t uidMin;
        const char* refusedFor;  // a word of the reason, or null when accepted
    } cases[] = {
        {1500, "1500", 1000, nullptr},
        {60000, "60000", 1000, nullptr},
        {1500, nullptr, 1000, "without authentication"},
        {1500, "", 1000, "without authentication"},
        {1500, "1501", 1000, "another user"},
        {1500, "0", 1000, "another user"},
        {1500, "1500 ", 1000, "not a user id"},
        {1500, "+1500", 1000, "not a user id"},
        {1500, "1500\nSTATE: +x", 1000, "not a user id"},
        {1500, "1500", 2000, "not a login account"},
        {60001, "60001", 1000, "not a login account"},
        {65534, "65534", 1000, "not a login account"},  // nobody
    };
    for (const auto& c : cases) {
        const JobUser user{"ann", c.uid, 1500, "/home/ann"};
        const auto refusal = JobRefusal(user, c.authUid, c.uidMin, 60000);
        if (!c.refusedFor) {
            EXPECT_FALSE(refusal.has_value()) << *refusal;
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << (c.authUid ? c.authUid : "(none)");
        EXPECT_NE(refusal->find(c.refusedFor), std::string::npos) << *refusal;
        EXPECT_EQ(refusal->find("ann"), std::string::npos) << *refusal;
    }
}

TEST(LoginUidRange, ReadsTheSettingsOrFallsBackTo1000And60000) {
    test::TempDir dir;
    const struct {
        std::string text;
        uid_t min, max;
    } cases[] = {
        {"# UID_MIN 5\nUID_MIN\t\t\t 1200\nUID_MAX 30000\n", 1200, 30000},
        {"UID_MIN_X 7\nSYS_UID_MIN 100\nSYS_UID_MAX 999\nUID_MAX_Y 3\n", 1000, 60000},
        {"UID_MIN 500 # old systems\nUID_MIN 600\nUID_MAX 70000 #\n", 600, 70000},
        {"UID_MIN lots\nUID_MAX -1\n", 1000, 60000},
        {"", 1000, 60000},
    };
    for (const auto& c : cases) {
        test::writeBytes(dir / "login.defs", c.text);
        EXPECT_EQ(LoginUidMin(dir / "login.defs"), c.min) << c.text;
        EXPECT_EQ(LoginUidMax(dir / "login.defs"), c.max) << c.text;
    }
    EXPECT_EQ(LoginUidMin(dir / "missing"), 1000u);
    EXPECT_EQ(LoginUidMax(dir / "missing"), 60000u);
}

TEST(StatusValue, NoValueCanStartALineOfItsOwn) {
    const struct {
        std::string value, expected;
        bool control;
    } cases[] = {
        {":0", ":0", false},
        {":0\nPPD: DefaultPageSize=Letter\nSTATE: +other-error",
         ":0PPD: DefaultPageSize=LetterSTATE: +other-error", true},
        {"a\rb\x1b[2Jc\x7f", "ab[2Jc", true},
        {"C1 \xC2\x85 next line", "C1  next line", true},
        {"Gr\xC3\xBC\xC3\x9F", "Gr\xC3\xBC\xC3\x9F", false},
        {std::string(299, 'x') + "\xC3\xBC", std::string(299, 'x'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusValue(c.value), c.expected) << c.value;
        EXPECT_EQ(HoldsControlCharacters(c.value), c.control) << c.value;
    }
}

// A listening socket at `path`.
int listenAt(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

TEST(UserBusSocket, OnlyTheUsersOwnFolderAndSocket) {
    test::TempDir root;
    const uid_t self = ::getuid();
    const auto folder = [&](const std::string& name, mode_t mode) {
        fs::create_directories(root / name / std::to_string(self));
        ::chmod((root / name / std::to_string(self)).c_str(), mode);
        return root / name / std::to_string(self);
    };
    const fs::path good = folder("good", 0700);
    const int listening = listenAt(good / "bus");
    test::writeBytes(folder("plainfile", 0700) / "bus", "not a socket");
    const int open = listenAt(folder("open", 0777) / "bus");
    fs::create_directories(root / "linked");
    fs::create_directory_symlink(good, root / "linked" / std::to_string(self));
    folder("nobus", 0700);

    const struct {
        std::string root;
        bool found;
    } cases[] = {{"good", true},    {"plainfile", false}, {"open", false},
                 {"linked", false}, {"nobus", false},     {"missing", false}};
    for (const auto& c : cases) {
        std::string reason;
        const auto socket = UserBusSocket(self, root / c.root, reason);
        EXPECT_EQ(socket.has_value(), c.found) << c.root << ": " << reason;
        EXPECT_EQ(reason.empty(), c.found) << c.root;
    }
    std::string reason;
    EXPECT_FALSE(UserBusSocket(self + 1, root / "good", reason).has_value());
    ::close(listening);
    ::close(open);
}

TEST(FileUri, EncodesEveryByteAPathMayHold) {
    EXPECT_EQ(FileUri("/home/ann/.cache/Miravo/spool/Report__ps__job_12"),
              "file:///home/ann/.cache/Miravo/spool/Report__ps__job_12");
    EXPECT_EQ(FileUri("/s/a b%#?\n\xC3\xBC"), "file:///s/a%20b%25%23%3F%0A%C3%BC");
}

TEST(RunProgram, TheChildGetsOnlyItsStandardDescriptorsAndTheGivenEnvironment) {
    test::TempDir dir;
    test::writeBytes(dir / "inherited-by-mistake", "");
    // Inheritable on purpose, as the print service's channels are.
    const int leaked = ::open((dir / "inherited-by-mistake").c_str(), O_RDONLY);
    ASSERT_GE(leaked, 3);
    const ProgramRun run = RunProgram(
        "/bin/sh", {"-c", "for f in /proc/$$/fd/*; do echo \"fd $(readlink $f)\"; done; env"},
        {"ONLY=this"});
    ::close(leaked);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::set<std::string> variables;
    std::istringstream output(run.output);
    for (std::string line; std::getline(output, line);) {
        EXPECT_EQ(line.find("inherited-by-mistake"), std::string::npos) << run.output;
        if (line.rfind("fd ", 0) != 0 && line.rfind("PWD=", 0) != 0)  // PWD: the shell's own
            variables.insert(line);
    }
    EXPECT_NE(run.output.find("fd /dev/null"), std::string::npos) << run.output;
    EXPECT_EQ(variables, std::set<std::string>{"ONLY=this"}) << run.output;
}

TEST(RunProgram, ACancelStopsTheProgramItWaitsFor) {
    HandleTermination();
    std::thread cancel([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(::getpid(), SIGTERM);
    });
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram("/bin/sleep", {"30"}, {});
    cancel.join();
    EXPECT_TRUE(run.started);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(TerminationRequested());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// The root side ends a job whose user side is stopped, outlives its
// deadline or leaves processes behind, and ends at once on a cancel;
// nothing of the user side's process group is left. The cancel comes last:
// it stays requested for the rest of this process.
TEST(SuperviseUserSide, EndsTheJobAndEveryProcessOfItsUserSide) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // orphans come back here
    enum Behaviour { Stops, Exits, Hangs };
    const struct {
        Behaviour behaviour;
        bool cancel;
        UserSideEnd::Kind kind;
        int exitCode;
    } cases[] = {
        {Stops, false, UserSideEnd::TimedOut, -1},
        {Hangs, false, UserSideEnd::TimedOut, -1},
        {Exits, false, UserSideEnd::Exited, 3},
        {Stops, true, UserSideEnd::Cancelled, -1},
    };
    const auto deadline = std::chrono::milliseconds(500);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "behaviour " << c.behaviour << " cancel " << c.cancel);
        int channel[2];
        ASSERT_EQ(::pipe(channel), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setpgid(0, 0);
            const pid_t helper = ::fork();
            if (helper == 0) {
                ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            (void)!::write(channel[1], &helper, sizeof helper);
            if (c.behaviour == Stops)
                ::raise(SIGSTOP);
            if (c.behaviour == Exits)
                ::_exit(3);
            ::pause();
            ::_exit(0);
        }
        ::setpgid(child, child);
        ::close(channel[1]);
        pid_t helper = 0;
        ASSERT_EQ(::read(channel[0], &helper, sizeof helper), ssize_t(sizeof helper));
        ::close(channel[0]);
        if (c.cancel) {
            HandleTermination();
            ::kill(::getpid(), SIGTERM);
        }
        const auto start = std::chrono::steady_clock::now();
        const UserSideEnd end = SuperviseUserSide(child, deadline, std::chrono::milliseconds(300));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(end.kind, c.kind);
        EXPECT_EQ(end.exitCode, c.exitCode);
        EXPECT_LT(took, deadline + std::chrono::seconds(2));
        if (c.cancel) {
            EXPECT_LT(took, deadline);
        }
        // The child is reaped, its helper killed (and reaped here).
        EXPECT_EQ(::kill(child, 0), -1);
        bool helperGone = false;
        for (int i = 0; i < 100 && !helperGone; ++i) {
            helperGone = ::waitpid(helper, nullptr, WNOHANG) == helper;
            if (!helperGone)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(helperGone);
        if (!helperGone) {
            ::kill(helper, SIGKILL);
            ::waitpid(helper, nullptr, 0);
        }
    }
}

// Runs the job's user side with its status lines caught in `log`: its exit
// code and what it said.
std::pair<int, std::string> runCapturingStatus(UserJobRequest& request, const fs::path& log) {
    ::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int to = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(to, STDERR_FILENO);
    ::close(to);
    const int code = RunUserJob(request);
    ::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(request.document);
    std::ifstream in(log);
    return {code, std::string((std::istreambuf_iterator<char>(in)), {})};
}

// A job refused for its size: the state message every user can read names
// neither the document's title nor its user, nor their home.
TEST(RunUserJob, TheStateMessageOfARefusedJobNamesNoOne) {
    const fs::path print = fs::path(MIRAVO_BINARY_DIR) / "bin" / "miravo-print";
    if (::access(print.c_str(), X_OK) != 0 || ::access("/usr/bin/gs", X_OK) != 0)
        GTEST_SKIP() << "needs miravo-print and Ghostscript";
    test::TempDir dir;
    const fs::path home = dir / "home-of-annsecret", pdf = dir / "big.pdf";
    fs::create_directories(home);
    // One page more than the printer takes.
    const std::string make = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" +
                             pdf.string() + " -c '1 1 1001 { pop showpage } for' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    UserJobRequest request;
    request.user = {"annsecret", ::getuid(), ::getgid(), home.string()};
    request.document = ::open(pdf.c_str(), O_RDONLY);
    ASSERT_GE(request.document, 0);
    request.title = "Divorce settlement draft";
    request.programs = {print, fs::path(MIRAVO_BINARY_DIR) / "bin" / "miravo"};
    request.runtimeRoot = dir / "run";

    const auto [code, status] = runCapturingStatus(request, dir / "status");
    EXPECT_EQ(code, kBackendCancelJob) << status;
    EXPECT_NE(status.find("ERROR: the document cannot be rendered"), std::string::npos) << status;
    EXPECT_NE(status.find("1000"), std::string::npos) << status;  // the reason stays
    for (const char* secret : {"Divorce", "annsecret", "/tmp/"})
        EXPECT_EQ(status.find(secret), std::string::npos) << secret << " in " << status;
}

// The pages a job asks for reach Ghostscript only as plain ranges of page
// numbers: anything else is refused with the reason.
TEST(PageListOf, TakesRangesOfPagesAndNothingElse) {
    const struct {
        std::string ranges;
        std::string list;  // empty: refused
    } cases[] = {
        {"2-3", "2-3"},
        {"1, 3 ,5-", "1,3,5-100000"},
        {"-4,7", "1-4,7"},
        {"2-2", "2-2"},
        {"100000", "100000"},
        {"3-2147483647", "3-100000"},
        {"100001-", ""},
        {"2-2147483648", ""},
        {"", ""},
        {" , ", ""},
        {"0", ""},
        {"3-1", ""},
        {"1-2-3", ""},
        {"-", ""},
        {"100001", ""},
        {"1,,2", ""},
        {"even", ""},
        {"1 -sOutputFile=/tmp/x", ""},
        {"1;2", ""},
        {"2-3\n", ""},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto list = miravo::print::PageListOf(c.ranges, error);
        EXPECT_EQ(list.value_or(""), c.list) << c.ranges;
        EXPECT_EQ(error.empty(), list.has_value()) << c.ranges;
    }
    std::string many = "1";
    for (int i = 0; i < miravo::print::kMaxRanges; ++i)
        many += ",1";
    std::string error;
    EXPECT_FALSE(miravo::print::PageListOf(many, error));
}

// The job's options as the print system writes them: quoted and escaped
// values, plain names; only the options that change the pages are named
// as ignored, and not when they ask for nothing.
TEST(JobOptions, ReadsTheValuesAndNamesTheIgnoredOnes) {
    const std::string options =
        "job-uuid=urn:1 page-ranges='2-3, 5' number-up=1 landscape "
        "scaling=\"80\" title=a\\ b page-ranges=7 mirror=false page-set=odd";
    EXPECT_EQ(JobOption(options, "page-ranges"), "7");
    EXPECT_EQ(JobOption(options, "title"), "a b");
    EXPECT_EQ(JobOption(options, "landscape"), "");
    EXPECT_EQ(JobOption(options, "copies"), std::nullopt);
    EXPECT_EQ(JobOption("page-ranges='2-3, 5'", "page-ranges"), "2-3, 5");
    EXPECT_EQ(IgnoredPageOptions(options),
              (std::vector<std::string>{"landscape=true", "scaling=80", "page-set=odd"}));
    EXPECT_TRUE(IgnoredPageOptions("number-up=1 orientation-requested=3 job-sheets=none").empty());
}

// The print system passes the documents of one job as one stream: each
// starts where the one before it ended, whatever pieces the stream comes
// in; marks inside a document do not cut it.
TEST(DocumentStarts, FindsWhereEachDocumentOfAStreamBegins) {
    const std::string a = "%PDF-1.4\nA\n%%EOF\n", b = "%PDF-1.7\r\nB\r\n%%EOF\r\n";
    const struct {
        std::string stream;
        std::vector<std::uint64_t> starts;
    } cases[] = {
        {a, {0}},
        {a + b, {0, a.size()}},
        {a + "\n\n" + b + a, {0, a.size() + 2, a.size() + 2 + b.size()}},
        {"%PDF-1.4\n%%%EOF\n%PDF-1.5\n", {0, 16}},
        // Not the head of a document: text between, a broken head, a
        // document that only mentions the marks.
        {a + "x" + b, {0}},
        {a + "%PDF" + "\n%%EOF", {0}},
        {"%PDF-1.4\n(%%EOF and %PDF- in a string)\n%%EOF\n", {0}},
        {a + std::string(100, '\n') + b, {0}},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {c.stream.size(), std::size_t(1), std::size_t(3)}) {
            DocumentStarts starts;
            for (std::size_t at = 0; at < c.stream.size(); at += piece)
                starts.feed(c.stream.data() + at, std::min(piece, c.stream.size() - at));
            EXPECT_EQ(starts.starts(), c.starts) << c.stream << " in pieces of " << piece;
        }
    }
}

// A job of several documents becomes one job file per document, named
// in the job's order, each with its own pages; a job of more documents
// than one fax takes is refused whole and leaves nothing. (No session bus
// here: the job files wait in the spool.)
TEST(RunUserJob, EachDocumentOfAJobBecomesAJobFileInOrder) {
    const fs::path print = fs::path(MIRAVO_BINARY_DIR) / "bin" / "miravo-print";
    if (::access(print.c_str(), X_OK) != 0 || ::access("/usr/bin/gs", X_OK) != 0)
        GTEST_SKIP() << "needs miravo-print and Ghostscript";
    test::TempDir dir;
    const auto pdfOf = [&](int pages) {
        const fs::path pdf = dir / "made.pdf";
        const std::string make =
            "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" + pdf.string() +
            " -c '1 1 " + std::to_string(pages) + " { pop showpage } for' >/dev/null 2>&1";
        EXPECT_EQ(std::system(make.c_str()), 0);
        return test::readBytes(pdf);
    };
    const std::string two = pdfOf(2), one = pdfOf(1), three = pdfOf(3);
    std::string many;
    for (std::size_t i = 0; i <= kMaxDocumentsPerJob; ++i)
        many += one;
    using Pages = std::map<std::string, int>;  // of each job file, by its title
    const struct {
        std::string stream;
        int code;
        Pages pages;
        std::string range = {};  // the pages asked for, of each document
    } cases[] = {
        {two + one + three, kBackendOk, {{"Letter", 2}, {"Letter 2", 1}, {"Letter 3", 3}}},
        {three, kBackendOk, {{"Letter", 3}}},
        {many, kBackendCancelJob, {}},
        {three, kBackendOk, {{"Letter", 2}}, "2-3"},
        {two + three, kBackendOk, {{"Letter", 1}, {"Letter 2", 2}}, "1,3-"},
    };
    for (const auto& c : cases) {
        const test::TempDir home;
        test::writeBytes(dir / "stream", c.stream);
        UserJobRequest request{{"ann", ::getuid(), ::getgid(), home.path().string()},
                               ::open((dir / "stream").c_str(), O_RDONLY),
                               "Letter",
                               {print, fs::path(MIRAVO_BINARY_DIR) / "bin" / "miravo"},
                               "",
                               dir / "run",
                               c.range};
        const auto [code, status] = runCapturingStatus(request, dir / "status");
        EXPECT_EQ(code, c.code) << status;
        // A job file "TITLE__ps__NUMBER" has its pages in "NUMBER_1", ...
        Pages pages;
        std::error_code ec;
        for (const auto& job : fs::directory_iterator(home / ".cache/Miravo/spool", ec)) {
            const std::string name = job.path().filename().string();
            const std::size_t mark = name.find("__ps__");
            if (mark == std::string::npos)
                continue;
            for (int page = 1; fs::exists(job.path().parent_path() /
                                          (name.substr(mark + 6) + "_" + std::to_string(page)));
                 ++page)
                pages[name.substr(0, mark)] = page;
        }
        EXPECT_EQ(pages, c.pages) << status;
    }
}

}  // namespace
}  // namespace miravo::backend
