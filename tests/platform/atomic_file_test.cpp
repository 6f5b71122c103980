#include "platform/posix/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <set>
#include <string>

#include "support/temp_dir.h"

namespace tovalo {
namespace {

namespace fs = std::filesystem;
using test_support::filesIn;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

// Each test gets a fresh temporary directory; targets usually sit in a "data/state" folder
// inside it that does not exist yet.
class AtomicFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Known folder modes whatever the environment's umask.
        previousUmask_ = ::umask(022);
        ASSERT_FALSE(temp_.path().empty());
    }
    void TearDown() override { ::umask(previousUmask_); }

    fs::path root() const { return temp_.path(); }
    fs::path folder() const { return root() / "data" / "state"; }
    std::string target() const { return (folder() / "file.json").string(); }

    static std::set<std::string> entries(const fs::path& dir) {
        const auto names = filesIn(dir);
        return {names.begin(), names.end()};
    }

    static std::set<std::string> treeBelow(const fs::path& dir) {
        std::set<std::string> paths;
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ignored)) {
            paths.insert(fs::relative(entry.path(), dir).string());
        }
        return paths;
    }

    static fs::perms permissions(const fs::path& path) {
        return fs::status(path).permissions() & fs::perms::all;
    }

    TempDir temp_{"tovalo-atomic"};
    mode_t previousUmask_ = 0;
};

constexpr fs::perms kOwnerReadWrite = fs::perms::owner_read | fs::perms::owner_write;

// ---- Whole-file writes

TEST_F(AtomicFileTest, WriteCreatesPrivateFoldersAndReplacesTheFileWhole) {
    ASSERT_TRUE(writeFileAtomically(target(), "first"));
    EXPECT_EQ(readFile(target()), "first");
    EXPECT_EQ(permissions(root() / "data"), fs::perms::owner_all);
    EXPECT_EQ(permissions(folder()), fs::perms::owner_all);
    EXPECT_EQ(permissions(target()), kOwnerReadWrite);

    const std::string big(200 * 1024, 'x');  // more than one write call may take
    ASSERT_TRUE(writeFileAtomically(target(), big));
    EXPECT_EQ(readFile(target()), big);
    EXPECT_EQ(entries(folder()), std::set<std::string>{"file.json"});
}

TEST_F(AtomicFileTest, WriteUsesTheFolderModeItIsGiven) {
    AtomicWriteOptions options;
    options.directoryMode = 0750;
    ASSERT_TRUE(writeFileAtomically(target(), "x", options));
    const auto expected = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
    EXPECT_EQ(permissions(root() / "data"), expected);
    EXPECT_EQ(permissions(folder()), expected);
}

TEST_F(AtomicFileTest, ARefusedWriteChangesNothingAndLeavesNoTemporary) {
    const struct {
        const char* name;
        fs::path blocker;  // a directory or file where the write needs something else
        bool blockerIsDirectory;
    } cases[] = {
        {"directory in place of the file", "data/state/file.json", true},
        {"file in place of the folder", "data/state", false},
        {"file in place of a parent folder", "data", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path base = root() / c.name;
        if (c.blockerIsDirectory) {
            fs::create_directories(base / c.blocker);
        } else {
            writeFile(base / c.blocker, "in the way");
        }
        const auto before = treeBelow(base);

        EXPECT_FALSE(writeFileAtomically((base / "data" / "state" / "file.json").string(), "new"));
        EXPECT_EQ(treeBelow(base), before);
        if (!c.blockerIsDirectory) {
            EXPECT_EQ(readFile(base / c.blocker), "in the way");
        }
    }
}

TEST_F(AtomicFileTest, AnEmptyPathIsRefused) {
    EXPECT_FALSE(writeFileAtomically("", "x"));
    EXPECT_FALSE(createDirectories("", 0700));
    removeAtomicWriteLeftovers("");  // nothing to do, and no crash
}

TEST_F(AtomicFileTest, AnUnsyncableFolderFailsOnlyAWriteThatMustBeDurable) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads folders whatever their permissions";
    }
    fs::create_directories(folder());
    // Writable but not readable: the rename works, opening the folder to sync it does not.
    fs::permissions(folder(), fs::perms::owner_write | fs::perms::owner_exec);

    AtomicWriteOptions durable;
    durable.requireDurableRename = true;
    EXPECT_FALSE(writeFileAtomically(target(), "durable", durable));

    AtomicWriteOptions bestEffort;
    bestEffort.requireDurableRename = false;
    EXPECT_TRUE(writeFileAtomically(target(), "best effort", bestEffort));

    fs::permissions(folder(), fs::perms::owner_all);
    EXPECT_EQ(readFile(target()), "best effort");
}

TEST_F(AtomicFileTest, LeftoversOfInterruptedWritesAreRemovedAndNothingElse) {
    writeFile(target(), "whole");
    writeFile(folder() / "file.json.tmp-Ab12Cd", "half");
    writeFile(folder() / "file.json.tmp-", "half");
    writeFile(folder() / "other.json.tmp-Ab12Cd", "someone else's");
    writeFile(folder() / "file.json.bak", "kept");

    removeAtomicWriteLeftovers(target());

    EXPECT_EQ(entries(folder()),
              (std::set<std::string>{"file.json", "file.json.bak", "other.json.tmp-Ab12Cd"}));
    EXPECT_EQ(readFile(target()), "whole");
}

// ---- Staged files

TEST_F(AtomicFileTest, AStagedFileThatIsDroppedLeavesNothingBehind) {
    fs::create_directories(folder());
    {
        const auto staged = AtomicFile::stage((folder() / ".stage-").string(), "contents");
        ASSERT_TRUE(staged.has_value());
        EXPECT_EQ(readFile(staged->temporaryPath()), "contents");
        EXPECT_EQ(permissions(staged->temporaryPath()), kOwnerReadWrite);
        EXPECT_TRUE(fs::path(staged->temporaryPath()).filename().string().starts_with(".stage-"));
    }
    EXPECT_TRUE(entries(folder()).empty());
    EXPECT_FALSE(AtomicFile::stage((folder() / "missing" / ".stage-").string(), "x"));
}

TEST_F(AtomicFileTest, StagedFilesGetUniqueNames) {
    fs::create_directories(folder());
    const auto first = AtomicFile::stage((folder() / ".stage-").string(), "a");
    const auto second = AtomicFile::stage((folder() / ".stage-").string(), "b");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->temporaryPath(), second->temporaryPath());
    EXPECT_EQ(readFile(first->temporaryPath()), "a");
    EXPECT_EQ(readFile(second->temporaryPath()), "b");
}

TEST_F(AtomicFileTest, RenameReplacesTheTargetAndLeavesNoTemporary) {
    writeFile(target(), "old");
    {
        auto staged = AtomicFile::stage(target() + ".tmp-", "new");
        ASSERT_TRUE(staged.has_value());
        ASSERT_TRUE(staged->renameTo(target()));
        EXPECT_FALSE(staged->renameTo(target()));  // nothing left to move
    }
    EXPECT_EQ(readFile(target()), "new");
    EXPECT_EQ(entries(folder()), std::set<std::string>{"file.json"});
}

TEST_F(AtomicFileTest, LinkNeverReplacesAnExistingFile) {
    writeFile(folder() / "taken", "someone else's");
    {
        const auto staged = AtomicFile::stage((folder() / ".stage-").string(), "mine");
        ASSERT_TRUE(staged.has_value());
        EXPECT_EQ(staged->linkTo((folder() / "taken").string()), AtomicFile::LinkResult::nameTaken);
        EXPECT_EQ(staged->linkTo((folder() / "missing" / "x").string()),
                  AtomicFile::LinkResult::failed);
        EXPECT_EQ(staged->linkTo((folder() / "free").string()), AtomicFile::LinkResult::linked);
    }
    EXPECT_EQ(readFile(folder() / "taken"), "someone else's");
    EXPECT_EQ(readFile(folder() / "free"), "mine");
    EXPECT_EQ(entries(folder()), (std::set<std::string>{"free", "taken"}));
}

TEST_F(AtomicFileTest, AMovedFromStagedFileOwnsNothing) {
    fs::create_directories(folder());
    auto staged = AtomicFile::stage((folder() / ".stage-").string(), "x");
    ASSERT_TRUE(staged.has_value());
    const std::string temporary = staged->temporaryPath();
    {
        AtomicFile moved(std::move(*staged));
        EXPECT_EQ(moved.temporaryPath(), temporary);
        EXPECT_TRUE(fs::exists(temporary));
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(staged->linkTo((folder() / "name").string()), AtomicFile::LinkResult::failed);
}

// ---- Folders

TEST_F(AtomicFileTest, CreatesMissingFoldersAndAcceptsOnlyDirectories) {
    const fs::path deep = root() / "a" / "b" / "c";
    EXPECT_TRUE(createDirectories(deep.string(), 0700));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(createDirectories(deep.string(), 0700));  // already there
    EXPECT_TRUE(createDirectories((deep / "").string(), 0700));

    writeFile(root() / "plain", "x");
    EXPECT_FALSE(createDirectories((root() / "plain").string(), 0700));
    EXPECT_FALSE(createDirectories((root() / "plain" / "below").string(), 0700));

    fs::create_directory_symlink(deep, root() / "link");
    EXPECT_TRUE(createDirectories((root() / "link").string(), 0700));
}

TEST(AtomicFilePathTest, ParentDirectoryOfEveryShapeOfPath) {
    const std::pair<std::string, std::string> cases[] = {
        {"/home/ada/prefs.json", "/home/ada"},
        {"/prefs.json", "/"},
        {"prefs.json", "."},
        {"state/prefs.json", "state"},
    };
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(parentDirectory(path), parent) << path;
    }
}

// ---- Reads

TEST_F(AtomicFileTest, ReadsRegularFilesWithinTheBoundOnly) {
    writeFile(folder() / "small", "12345");
    writeFile(folder() / "empty", "");
    fs::create_directories(folder() / "dir");
    ASSERT_EQ(::mkfifo((folder() / "fifo").c_str(), 0600), 0);
    writeFile(root() / "plain", "x");

    const struct {
        const char* name;
        fs::path path;
        std::size_t maxBytes;
        FileReadStatus status;
        std::string contents;
    } cases[] = {
        {"within the bound", folder() / "small", 100, FileReadStatus::read, "12345"},
        {"exactly the bound", folder() / "small", 5, FileReadStatus::read, "12345"},
        {"unbounded", folder() / "small", std::numeric_limits<std::size_t>::max(),
         FileReadStatus::read, "12345"},
        {"empty", folder() / "empty", 0, FileReadStatus::read, ""},
        {"one byte over", folder() / "small", 4, FileReadStatus::failed, ""},
        {"missing", folder() / "absent", 100, FileReadStatus::missing, ""},
        {"missing folder", folder() / "absent" / "file", 100, FileReadStatus::missing, ""},
        {"file in place of the folder", root() / "plain" / "file", 100, FileReadStatus::missing,
         ""},
        {"directory", folder() / "dir", 100, FileReadStatus::failed, ""},
        // Opened without blocking, so no writer is needed for this to return.
        {"fifo", folder() / "fifo", 100, FileReadStatus::failed, ""},
    };
    for (const auto& c : cases) {
        const FileReadResult result = readWholeFile(c.path.string(), c.maxBytes);
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.contents, c.contents) << c.name;
    }
}

TEST_F(AtomicFileTest, ReadsFilesLargerThanOneBuffer) {
    std::string big(100 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i % 251);
    }
    writeFile(target(), big);
    const FileReadResult result = readWholeFile(target(), big.size());
    EXPECT_EQ(result.status, FileReadStatus::read);
    EXPECT_EQ(result.contents, big);
}

}  // namespace
}  // namespace tovalo
