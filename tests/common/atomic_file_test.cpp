// Durable writes and careful reads: what every save and every file import uses.
#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace qrv {
namespace {

namespace fs = std::filesystem;

struct ScratchDir {
    fs::path path;
    ScratchDir() {
        path = fs::path(::testing::TempDir()) /
               ("atomic-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchDir() {
        ::umount2(path.c_str(), MNT_DETACH);
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // A small tmpfs here (root only); false where the machine does not allow it.
    bool MountTmpfs(const char* options, unsigned long flags = 0) {
        return ::mount("tmpfs", path.c_str(), "tmpfs", flags, options) == 0;
    }
};

std::string Contents(const std::string& path) {
    std::string s;
    std::string error;
    EXPECT_TRUE(ReadWholeFile(path, &s, &error)) << error;
    return s;
}

TEST(WriteFileAtomically, WritesThroughASymlinkAndKeepsTheMode) {
    ScratchDir dir;
    const std::string target = dir / "target.hex";
    std::ofstream(target) << "old";
    ::chmod(target.c_str(), 0600);
    fs::create_symlink("target.hex", dir / "link.hex");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir / "link.hex", "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.hex"));
    EXPECT_EQ(Contents(target), "new");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);
}

TEST(WriteFileAtomically, RefusesATargetThatIsNoRegularFile) {
    ScratchDir dir;
    fs::create_directory(dir / "sub");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string name : {"sub", "fifo"}) {
        std::string error;
        EXPECT_FALSE(WriteFileAtomically(dir / name, "x", &error)) << name;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
}

TEST(WriteFileAtomically, AFullDiskOrReadOnlyDirectoryIsReportedAndLeavesTheOldFile) {
    ScratchDir dir;
    if (!dir.MountTmpfs("size=16k")) GTEST_SKIP() << "no tmpfs may be mounted here";
    const std::string target = dir / "merged.hex";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(target, "old", &error)) << error;
    EXPECT_FALSE(WriteFileAtomically(target, std::string(64 * 1024, 'x'), &error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

    ASSERT_EQ(::mount("tmpfs", dir.path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=16k"), 0);
    EXPECT_FALSE(WriteFileAtomically(target, "new", &error));
    EXPECT_NE(error.find("Read-only"), std::string::npos) << error;
    EXPECT_EQ(Contents(target), "old");
}

// A read-only file is replaced only when the caller says so (--force, or the
// user's yes), and then keeps its mode.
TEST(WriteFileAtomically, AReadOnlyFileIsReplacedOnlyOnPurpose) {
    ScratchDir dir;
    const std::string path = dir / "locked.hex";
    ASSERT_TRUE(WriteFileAtomically(path, "old\r\n", nullptr));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(IsReadOnlyFile(path));
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(path, "new\r\n", &error));
    EXPECT_EQ(error, "cannot replace " + path + ": it is read-only");
    EXPECT_EQ(Contents(path), "old\r\n");
    EXPECT_TRUE(WriteFileAtomically(path, "new\r\n", &error, true)) << error;
    EXPECT_EQ(Contents(path), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST(WriteFileAtomically, ANewFileFollowsTheUmask) {
    ScratchDir dir;
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0}}) {
        const std::string path = dir / ("new-" + std::to_string(mask));
        const mode_t old = ::umask(mask);
        std::string error;
        const bool written = WriteFileAtomically(path, "x\r\n", &error);
        ::umask(old);
        ASSERT_TRUE(written) << error;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << std::oct << mask;
    }
}

// SIGINT or SIGTERM during the write: when the signal ends the program, the
// temporary file goes first; when the program handles it, the write finishes.
volatile std::sig_atomic_t g_handled = 0;
TEST(WriteFileAtomically, AnInterruptLeavesNoTemporaryFile) {
    ScratchDir dir;
    for (const int signal : {SIGINT, SIGTERM}) {
        for (const bool handled : {false, true}) {
            SCOPED_TRACE(std::to_string(signal) + (handled ? " handled" : " default"));
            const std::string path = dir / "out.hex";
            std::error_code ec;
            fs::remove(path, ec);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                g_handled = 0;
                if (handled) std::signal(signal, [](int) { g_handled = 1; });
                SetTemporaryFileHookForTests([signal](const std::string&) { ::raise(signal); });
                const bool ok = WriteFileAtomically(path, "data\r\n", nullptr);
                std::_Exit(ok && g_handled ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            if (handled) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                EXPECT_EQ(Contents(path), "data\r\n");
            } else {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
                EXPECT_FALSE(fs::exists(path));
            }
            for (const auto& entry : fs::directory_iterator(dir.path))
                EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
                    << entry.path();
        }
    }
}

TEST(ReadWholeFile, RefusesSpecialAndOversizedFilesAtOnce) {
    ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::ofstream(dir / "big") << std::string(100, 'x');
    std::string content, error;
    EXPECT_FALSE(ReadWholeFile(dir / "fifo", &content, &error));  // never waits for a writer
    EXPECT_FALSE(ReadWholeFile("/dev/zero", &content, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
    EXPECT_FALSE(ReadWholeFile(dir / "big", &content, &error, 99));
    EXPECT_NE(error.find("larger"), std::string::npos);
    EXPECT_TRUE(ReadWholeFile(dir / "big", &content, &error, 100));
}

TEST(SplitLines, EveryLineEndAndAByteOrderMark) {
    EXPECT_EQ(SplitLines("\xEF\xBB\xBF"
                         "a\r\nb\nc\rd\r\r\ne"),
              (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(SplitLines("a\r"), std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace qrv
