// The data folder and the request-log folder must be this user's alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "server/DataFolder.h"
#include "tests/TestSupport.h"

namespace miravo::server {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(ServerDataFolderTest, FoldersOthersPreparedOrCanChangeAreRefused) {
    struct Case {
        const char* what;
        std::function<bool(const fs::path&)> prepare;  // false: cannot be arranged here
        const char* reason;
    };
    const Case cases[] = {
        {"world-writable folder", [](const fs::path& d) { return ::chmod(d.c_str(), 0777) == 0; },
         "writable by other users"},
        {"folder of another user",
         [](const fs::path& d) { return ::chown(d.c_str(), kNobody, kNobody) == 0; },
         "belongs to another user"},
        {"file of another user inside",
         [](const fs::path& d) {
             test::writeBytes(d / "ca.pem", "planted");
             return ::chown((d / "ca.pem").c_str(), kNobody, kNobody) == 0;
         },
         "belongs to another user"},
        {"group-writable folder below",
         [](const fs::path& d) {
             fs::create_directories(d / "faxes" / "7");
             return ::chmod((d / "faxes" / "7").c_str(), 0770) == 0;
         },
         "writable by other users"},
        {"symbolic link inside",
         [](const fs::path& d) {
             fs::create_symlink("/etc/passwd", d / "miravo.db");
             return true;
         },
         "symbolic link"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const fs::path data = dir / "data";
        fs::create_directory(data);
        ::chmod(data.c_str(), 0700);
        if (!c.prepare(data)) {
            ADD_FAILURE() << c.what << ": cannot be arranged (run as root)";
            continue;
        }
        std::string error;
        EXPECT_FALSE(preparePrivateFolder(data, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(ServerDataFolderTest, OwnFoldersAreCreatedOrClosedToOthers) {
    test::TempDir dir;
    std::string error;
    const fs::path fresh = dir / "a" / "b";
    ASSERT_TRUE(preparePrivateFolder(fresh, error)) << error;
    EXPECT_EQ(modeOf(fresh), 0700u);

    const fs::path open = dir / "open";
    fs::create_directories(open / "faxes");
    test::writeBytes(open / "faxes" / "document.tif", "II*");
    ::chmod(open.c_str(), 0755);
    ::chmod((open / "faxes").c_str(), 0755);
    ::chmod((open / "faxes" / "document.tif").c_str(), 0644);
    ASSERT_TRUE(preparePrivateFolder(open, error)) << error;
    EXPECT_EQ(modeOf(open), 0700u);
    EXPECT_EQ(modeOf(open / "faxes"), 0700u);
    EXPECT_EQ(modeOf(open / "faxes" / "document.tif"), 0600u);
}

TEST(ServerDataFolderTest, OneLockHolderPerFolder) {
    test::TempDir dir;
    std::string error;
    {
        FolderLock first, second;
        ASSERT_TRUE(first.acquire(dir.path(), error)) << error;
        EXPECT_FALSE(second.acquire(dir.path(), error));
        EXPECT_NE(error.find("another miravo-server"), std::string::npos) << error;
    }
    FolderLock again;
    EXPECT_TRUE(again.acquire(dir.path(), error)) << error;
}

}  // namespace
}  // namespace miravo::server
