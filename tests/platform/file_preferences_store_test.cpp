#include "platform/posix/file_preferences_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>

#include "base/clock.h"
#include "base/notification_center.h"
#include "support/temp_dir.h"

namespace tovalo {
namespace {

namespace fs = std::filesystem;
using test_support::filesIn;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

constexpr const char* kFirstCorruptCopy = "preferences.json.corrupt-20260101T000000Z";

// Each test gets its own temporary directory; the store lives in a "tovalo" folder inside it
// that does not exist yet, as on a first launch.
class FilePreferencesStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

    fs::path folder() const { return temp_.path() / "tovalo"; }
    fs::path file() const { return folder() / "preferences.json"; }

    std::unique_ptr<FilePreferencesStore> open() {
        return std::make_unique<FilePreferencesStore>(file().string(), &center_, clock_);
    }

    std::set<std::string> folderEntries() const {
        const auto names = filesIn(folder());
        return {names.begin(), names.end()};
    }

    TempDir temp_{"tovalo-prefs"};
    NotificationCenter center_;
    ManualClock clock_;
};

TEST_F(FilePreferencesStoreTest, EveryValueTypeSurvivesAReloadWithItsType) {
    const std::pair<const char*, Value> cases[] = {
        {"true", Value(true)},
        {"false", Value(false)},
        {"zero", Value(0)},
        {"negative", Value(-42)},
        {"int64 max", Value(std::numeric_limits<std::int64_t>::max())},
        {"int64 min", Value(std::numeric_limits<std::int64_t>::min())},
        // Integral doubles must not come back as integers.
        {"integral double", Value(1.0)},
        {"tenth", Value(0.1)},
        {"opacity", Value(0.85)},
        {"huge double", Value(1e300)},
        {"denormal double", Value(std::numeric_limits<double>::denorm_min())},
        {"empty string", Value("")},
        {"escaped string", Value("Grüße \"quoted\"\n\t\\ 中文")},
        {"window frame", Value("{{120, 80}, {800, 600}}")},
        {"empty list", Value(ValueList{})},
        {"string list", Value::stringList({"com.example.one", "com.example.two"})},
        {"mixed list", Value(ValueList{Value(1), Value(2.5), Value("x"), Value(), Value(false)})},
        {"empty map", Value(ValueMap{})},
        {"nested map",
         Value(ValueMap{{"inner", Value(ValueMap{{"n", Value(7)}, {"gap", Value()}})},
                        {"list", Value(ValueList{Value(ValueMap{{"d", Value(3.0)}})})}})},
    };
    {
        auto store = open();
        for (const auto& [key, value] : cases) {
            store->set(key, value);
        }
        EXPECT_TRUE(store->synchronize());
    }
    auto reloaded = open();
    for (const auto& [key, value] : cases) {
        SCOPED_TRACE(key);
        // Value equality compares the type as well: 1.0 never equals 1.
        EXPECT_EQ(reloaded->object(key), value);
    }
}

TEST_F(FilePreferencesStoreTest, AbsentKeysStayDistinctFromStoredOnes) {
    {
        auto store = open();
        EXPECT_FALSE(store->contains("a"));
        store->setInt("a", 1);
        store->setInt("b", 2);
        store->setBool("c", false);
        store->remove("b");
        store->set("c", Value());  // a null value removes the key
        EXPECT_EQ(store->intValue("a"), 1);
        EXPECT_FALSE(store->contains("b"));
        EXPECT_FALSE(store->contains("c"));
    }
    auto reloaded = open();
    EXPECT_EQ(reloaded->intValue("a"), 1);
    EXPECT_FALSE(reloaded->contains("b"));
    EXPECT_FALSE(reloaded->contains("c"));
}

TEST_F(FilePreferencesStoreTest, FirstWriteCreatesAPrivateFolderAndFile) {
    auto store = open();
    EXPECT_FALSE(fs::exists(folder()));
    store->setString("theme", "dark");

    EXPECT_EQ(fs::status(folder()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(folderEntries(), std::set<std::string>{"preferences.json"});
}

TEST_F(FilePreferencesStoreTest, EntriesOfUnsupportedShapeAreSkippedAndTheRestKept) {
    writeFile(file(), R"({"keep": 1, "gone": null, "tooBig": 18446744073709551615,
                         "nested": {"gap": null, "n": [true]}, "name": "x"})");
    auto store = open();

    EXPECT_EQ(store->intValue("keep"), 1);
    EXPECT_EQ(store->stringValue("name"), "x");
    EXPECT_EQ(store->object("nested"),
              Value(ValueMap{{"gap", Value()}, {"n", Value(ValueList{Value(true)})}}));
    EXPECT_FALSE(store->contains("gone"));
    EXPECT_FALSE(store->contains("tooBig"));
    // A valid document is not set aside.
    EXPECT_EQ(folderEntries(), std::set<std::string>{"preferences.json"});
}

TEST_F(FilePreferencesStoreTest, LeftoverTempFileOfAnInterruptedWriteIsIgnored) {
    writeFile(file(), R"({"opacity": 0.5})");
    writeFile(folder() / "preferences.json.tmp-Ab12Cd", R"({"opacity": 0.)");
    auto store = open();

    EXPECT_EQ(store->doubleValue("opacity"), 0.5);
    EXPECT_EQ(folderEntries(), std::set<std::string>{"preferences.json"});
    store->setDouble("opacity", 0.25);
    EXPECT_EQ(open()->doubleValue("opacity"), 0.25);
}

TEST_F(FilePreferencesStoreTest, NotificationFollowsEveryWriteWithTheValueVisible) {
    auto store = open();
    std::vector<std::optional<Value>> seen;
    auto token = center_.addObserver(kDefaultsDidChangeNotification, [&](const Notification&) {
        seen.push_back(store->object("k"));
    });

    store->setInt("k", 1);
    store->setInt("k", 1);  // unchanged: may skip the disk, still announced
    store->setInt("k", 2);
    store->remove("k");
    store->remove("k");

    const std::vector<std::optional<Value>> expected = {Value(1), Value(1), Value(2), std::nullopt,
                                                        std::nullopt};
    EXPECT_EQ(seen, expected);
}

// ---- Corrupt files

struct CorruptCase {
    const char* name;
    std::string text;
};

class CorruptFileTest : public FilePreferencesStoreTest,
                        public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFileTest, IsSetAsideAndTheStoreStartsEmpty) {
    const std::string original = GetParam().text;
    writeFile(file(), original);
    auto store = open();

    EXPECT_FALSE(store->contains("a"));
    EXPECT_EQ(folderEntries(), std::set<std::string>{kFirstCorruptCopy});
    EXPECT_EQ(readFile(folder() / kFirstCorruptCopy), original);

    store->setInt("a", 5);
    EXPECT_TRUE(store->synchronize());
    EXPECT_EQ(open()->intValue("a"), 5);
    EXPECT_EQ(readFile(folder() / kFirstCorruptCopy), original);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CorruptFileTest,
    ::testing::Values(CorruptCase{"Truncated", R"({"a": 1, "b": [tr)"},
                      CorruptCase{"Garbage", std::string("\x7f"
                                                         "ELF\0\xff\xfe garbage",
                                                         15)},
                      CorruptCase{"Empty", ""}, CorruptCase{"NotAnObject", R"([{"a": 1}])"},
                      CorruptCase{"InvalidUtf8", "{\"a\": \"\xc3\x28\"}"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FilePreferencesStoreTest, CorruptCopyIsDatedByTheClockAndNeverOverwritten) {
    // 2026-01-02T01:01:01Z
    clock_.advanceBy(seconds(86400 + 3661));
    const std::string dated = "preferences.json.corrupt-20260102T010101Z";
    writeFile(folder() / dated, "older copy");
    writeFile(file(), "{broken");

    auto store = open();

    EXPECT_EQ(readFile(folder() / dated), "older copy");
    EXPECT_EQ(readFile(folder() / (dated + "-1")), "{broken");
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(FilePreferencesStoreTest, CorruptFileThatCannotBeSetAsideIsNeverOverwritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file permissions";
    }
    writeFile(file(), "{hand-edited");
    fs::permissions(folder(), fs::perms::owner_read | fs::perms::owner_exec);
    auto store = open();
    store->setInt("a", 1);
    EXPECT_FALSE(store->synchronize());
    EXPECT_EQ(readFile(file()), "{hand-edited");

    fs::permissions(folder(), fs::perms::owner_all);
    EXPECT_TRUE(store->synchronize());
    EXPECT_EQ(readFile(folder() / kFirstCorruptCopy), "{hand-edited");
    EXPECT_EQ(open()->intValue("a"), 1);
}

// ---- Refused writes

// Ways to make the disk refuse a write, including ones that hold when running as root.
struct Blocker {
    const char* name;
    bool needsPermissions;
    std::function<void(const fs::path& folder, const fs::path& file)> block;
    std::function<void(const fs::path& folder, const fs::path& file)> unblock;
};

void PrintTo(const Blocker& blocker, std::ostream* out) {
    *out << blocker.name;
}

enum class Retry { kSynchronize, kUnchangedWrite };

void PrintTo(Retry retry, std::ostream* out) {
    *out << (retry == Retry::kSynchronize ? "retried by synchronize" : "retried by a write");
}

class RefusedWriteTest : public FilePreferencesStoreTest,
                         public ::testing::WithParamInterface<std::tuple<Blocker, Retry>> {};

TEST_P(RefusedWriteTest, KeepsTheValueAndRetriesUntilTheDiskAccepts) {
    const auto& [blocker, retry] = GetParam();
    if (blocker.needsPermissions && ::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file permissions";
    }
    auto store = open();
    store->setInt("before", 1);
    int notifications = 0;
    auto token = center_.addObserver(kDefaultsDidChangeNotification,
                                     [&](const Notification&) { ++notifications; });

    blocker.block(folder(), file());
    store->setInt("a", 7);
    EXPECT_EQ(notifications, 1);
    EXPECT_FALSE(store->synchronize());
    EXPECT_EQ(store->intValue("a"), 7);

    blocker.unblock(folder(), file());
    if (retry == Retry::kSynchronize) {
        EXPECT_TRUE(store->synchronize());
    } else {
        store->setInt("a", 7);  // unchanged in memory, but the file still lacks it
    }

    // Failed attempts leave no temp files behind.
    EXPECT_EQ(folderEntries(), std::set<std::string>{"preferences.json"});
    auto reloaded = open();
    EXPECT_EQ(reloaded->intValue("a"), 7);
    EXPECT_EQ(reloaded->intValue("before"), 1);
    EXPECT_TRUE(store->synchronize());
}

const Blocker kBlockers[] = {
    {"DirectoryInPlaceOfTheFile", false,
     [](const fs::path&, const fs::path& file) {
         fs::remove(file);
         fs::create_directory(file);
     },
     [](const fs::path&, const fs::path& file) { fs::remove(file); }},
    {"FileInPlaceOfTheFolder", false,
     [](const fs::path& folder, const fs::path&) {
         fs::remove_all(folder);
         std::ofstream(folder) << "x";
     },
     [](const fs::path& folder, const fs::path&) { fs::remove(folder); }},
    {"ReadOnlyFolder", true,
     [](const fs::path& folder, const fs::path&) {
         fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
     },
     [](const fs::path& folder, const fs::path&) {
         fs::permissions(folder, fs::perms::owner_all);
     }},
};

INSTANTIATE_TEST_SUITE_P(Blockers, RefusedWriteTest,
                         ::testing::Combine(::testing::ValuesIn(kBlockers),
                                            ::testing::Values(Retry::kSynchronize,
                                                              Retry::kUnchangedWrite)),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) +
                                    (std::get<1>(p.param) == Retry::kSynchronize
                                         ? "_RetriedBySynchronize"
                                         : "_RetriedByUnchangedWrite");
                         });

}  // namespace
}  // namespace tovalo
