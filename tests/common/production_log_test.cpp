// The production log file: what it refuses, and that every line in it is whole.
#include "common/production_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qrv {
namespace {

namespace fs = std::filesystem;

std::string Scratch(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("log-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path path = dir / name;
    std::error_code ec;
    fs::remove_all(path, ec);
    return path.string();
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

RunRecord Record(const std::string& message) {
    RunRecord r;
    r.time = "2026-12-09T13:30:00+00:00";
    r.programmer = "sim:qrv-programmer";
    r.outcome = "passed";
    r.message = message;
    return r;
}

// A log that is no regular file is refused at once: opening a FIFO must not
// wait for a reader (the alarm ends a test that hangs).
TEST(ProductionLogFile, ASpecialFileIsRefusedAtOnce) {
    const std::string fifo = Scratch("fifo.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fifoLink = Scratch("fifo-link.csv");
    fs::create_symlink(fifo, fifoLink);
    const std::string dir = Scratch("dir.csv");
    fs::create_directories(dir);
    struct Case {
        std::string path;
        bool reader;  // a reader holds the FIFO open
    } cases[] = {
        {fifo, false}, {fifo, true}, {fifoLink, false}, {dir, false}, {"/dev/null", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const int reader = c.reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        ::alarm(5);
        ProductionLog log(c.path);
        std::string error;
        EXPECT_FALSE(log.Check(&error));
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        error.clear();
        EXPECT_FALSE(log.Append(Record("x"), &error));
        EXPECT_FALSE(error.empty());
        ::alarm(0);
        if (reader >= 0) {
            char buf[64];
            EXPECT_LE(::read(reader, buf, sizeof buf), 0) << "a line went into the FIFO";
            ::close(reader);
        }
    }
}

TEST(ProductionLogFile, ARegularFileOrALinkToOneIsALog) {
    const std::string path = Scratch("runs.csv");
    const std::string link = Scratch("runs-link.csv");
    fs::create_symlink(path, link);
    std::string error;
    EXPECT_TRUE(ProductionLog(link).Check(&error)) << error;
    EXPECT_TRUE(ProductionLog(link).Append(Record("first"), &error)) << error;
    EXPECT_TRUE(ProductionLog(path).Append(Record("second"), &error)) << error;
    const std::string text = Contents(path);
    EXPECT_EQ(text.rfind("time,", 0), 0u) << "one header, at the start";
    EXPECT_EQ(text.find("time,", 1), std::string::npos);
    EXPECT_NE(text.find("first"), std::string::npos);
    EXPECT_NE(text.find("second"), std::string::npos);
}

// A full disk (here: a file size limit) cuts a line short: the part written is
// taken back, the log takes no more lines in this call, and the next call's
// line starts on a line of its own.
TEST(ProductionLogFile, AShortWriteLeavesOnlyWholeLines) {
    const std::string path = Scratch("full.csv");
    std::string error;
    ASSERT_TRUE(ProductionLog(path).Append(Record("first"), &error)) << error;
    const std::string before = Contents(path);

    ProductionLog log(path);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = before.size() + 10;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = log.Append(Record(std::string(200, 'y')), &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot write the production log"), std::string::npos) << error;
    EXPECT_TRUE(log.Failed());
    EXPECT_EQ(Contents(path), before);
    // Closed for the rest of the call, even though the disk has room again.
    EXPECT_FALSE(log.Append(Record("later"), &error));
    EXPECT_EQ(Contents(path), before);

    ASSERT_TRUE(ProductionLog(path).Append(Record("next"), &error)) << error;
    const std::string after = Contents(path);
    ASSERT_EQ(after.rfind(before, 0), 0u);
    EXPECT_EQ(after.substr(before.size(), 26), "2026-12-09T13:30:00+00:00,");
}

}  // namespace
}  // namespace qrv
