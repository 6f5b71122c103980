#include "platform/linux/error_report_spool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "error_report_test_support.h"

namespace tovalo {
namespace {

using error_report_testing::filesIn;
using error_report_testing::readFile;
using error_report_testing::TempDir;
using error_report_testing::writeFile;

class ErrorReportSpoolTest : public ::testing::Test {
  protected:
    // A folder that does not exist yet, as on a first run.
    std::string dir() const { return (temp_.path() / "state" / "error-reports").string(); }

    static std::vector<std::string> contents(ErrorReportSpool& spool) {
        std::vector<std::string> texts;
        for (const auto& entry : spool.list()) {
            texts.push_back(spool.read(entry).value_or("<unreadable>"));
        }
        return texts;
    }

    TempDir temp_;
};

TEST_F(ErrorReportSpoolTest, KeepsReportsOnDiskOldestFirstAcrossReopening) {
    {
        ErrorReportSpool spool(dir());
        EXPECT_TRUE(spool.add("first"));
        EXPECT_TRUE(spool.add("second"));
    }
    EXPECT_EQ(filesIn(dir(), "report-").size(), 2u);

    ErrorReportSpool reopened(dir());
    EXPECT_TRUE(reopened.add("third"));
    EXPECT_EQ(contents(reopened), (std::vector<std::string>{"first", "second", "third"}));

    reopened.remove(reopened.list().front());
    EXPECT_EQ(contents(reopened), (std::vector<std::string>{"second", "third"}));
    EXPECT_EQ(filesIn(dir(), "report-").size(), 2u);
}

TEST_F(ErrorReportSpoolTest, DropsTheOldestBeyondItsLimits) {
    const struct {
        const char* name;
        ErrorReportSpool::Limits limits;
        std::vector<std::string> kept;
    } cases[] = {
        {"count", {3, 1000, 100}, {"report 3", "report 4", "report 5"}},
        {"bytes", {100, 20, 100}, {"report 4", "report 5"}},
    };
    for (const auto& c : cases) {
        TempDir temp;
        const std::string folder = (temp.path() / c.name).string();
        ErrorReportSpool spool(folder, c.limits);
        for (int i = 1; i <= 5; ++i) {
            spool.add("report " + std::to_string(i));
        }
        EXPECT_EQ(contents(spool), c.kept) << c.name;
        EXPECT_EQ(spool.droppedCount(), 5 - c.kept.size()) << c.name;
        EXPECT_EQ(filesIn(folder, "report-").size(), c.kept.size()) << c.name;
    }
}

TEST_F(ErrorReportSpoolTest, RemovesLeftoversThatCannotBeReportsWhenFirstUsed) {
    writeFile(temp_.path() / "state" / "error-reports" / "report-00000000000000000001.json",
              "kept");
    writeFile(temp_.path() / "state" / "error-reports" / "report-00000000000000000002.json", "");
    writeFile(temp_.path() / "state" / "error-reports" / "report-00000000000000000003.json",
              std::string(200, 'x'));
    writeFile(temp_.path() / "state" / "error-reports" / ".report.tmp-AbC123", "half");
    writeFile(temp_.path() / "state" / "error-reports" / "crash-1-0a.record", "not ours");

    ErrorReportSpool spool(dir(), {100, 10000, 100});
    EXPECT_EQ(contents(spool), std::vector<std::string>{"kept"});
    EXPECT_EQ(filesIn(dir()),
              (std::vector<std::string>{"crash-1-0a.record", "report-00000000000000000001.json"}));
    // New reports come after the ones found.
    spool.add("new");
    EXPECT_EQ(contents(spool), (std::vector<std::string>{"kept", "new"}));
}

TEST_F(ErrorReportSpoolTest, AFileDeletedBehindItsBackIsForgotten) {
    ErrorReportSpool spool(dir());
    spool.add("a");
    spool.add("b");
    std::filesystem::remove(std::filesystem::path(dir()) / filesIn(dir(), "report-").front());
    EXPECT_FALSE(spool.read(spool.list().front()));
    EXPECT_EQ(contents(spool), std::vector<std::string>{"b"});
}

TEST_F(ErrorReportSpoolTest, AFifoInPlaceOfAReportIsForgottenWithoutWaitingForAWriter) {
    ErrorReportSpool spool(dir());
    spool.add("a");
    spool.add("b");
    const auto file = std::filesystem::path(dir()) / filesIn(dir(), "report-").front();
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    // No one ever opens the other end: a blocking read would never return.
    EXPECT_FALSE(spool.read(spool.list().front()));
    EXPECT_EQ(contents(spool), std::vector<std::string>{"b"});
}

TEST_F(ErrorReportSpoolTest, HoldsReportsInMemoryWhenTheFolderCannotBeWritten) {
    // A regular file where a parent folder should be: no one, not even root, can create it.
    writeFile(temp_.path() / "state", "a file");
    ErrorReportSpool spool(dir(), {2, 1000, 1000});

    EXPECT_FALSE(spool.add("one"));
    EXPECT_FALSE(spool.add("two"));
    EXPECT_FALSE(spool.add("three"));
    EXPECT_EQ(contents(spool), (std::vector<std::string>{"two", "three"}));
    EXPECT_TRUE(spool.list().front().inMemory);
    EXPECT_EQ(spool.droppedCount(), 1u);
    EXPECT_EQ(readFile(temp_.path() / "state"), "a file");
}

}  // namespace
}  // namespace tovalo
