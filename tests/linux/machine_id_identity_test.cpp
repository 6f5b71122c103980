#include "platform/linux/machine_id_identity.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tovalo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMachineId = "0123456789abcdef0123456789abcdef";
constexpr const char* kDbusId = "fedcba9876543210fedcba9876543210";

class MachineIdIdentityTest : public ::testing::Test {
  protected:
    MachineIdIdentityTest() {
        std::string pattern = (fs::temp_directory_path() / "tovalo-machine-id-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
        }
    }
    ~MachineIdIdentityTest() override {
        std::error_code ignored;
        fs::permissions(primary(), fs::perms::owner_all, ignored);
        fs::remove_all(root_, ignored);
    }

    fs::path primary() const { return root_ / "etc-machine-id"; }
    fs::path secondary() const { return root_ / "dbus-machine-id"; }
    MachineIdIdentity identity() const {
        return MachineIdIdentity({primary().string(), secondary().string()});
    }

    static void write(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }

    fs::path root_;
};

// What to put at each path: nullopt leaves the file out.
struct Case {
    const char* label;
    std::optional<std::string> primary;
    std::optional<std::string> secondary;
    std::optional<std::string> expected;
};

TEST_F(MachineIdIdentityTest, ReadsTheFirstUsableFileTrimmed) {
    const std::string id = kMachineId;
    const std::string dbus = kDbusId;
    const std::vector<Case> cases = {
        {"first file", id + "\n", dbus + "\n", id},
        {"surrounding white space", "  \t" + id + " \r\n", std::nullopt, id},
        {"first missing", std::nullopt, dbus + "\n", dbus},
        {"first empty", "", dbus, dbus},
        {"first only white space", " \n\n", dbus, dbus},
        {"first not initialised yet", "uninitialized\n", dbus, dbus},
        {"first implausibly large", std::string(4096, 'a'), dbus, dbus},
        {"none present", std::nullopt, std::nullopt, std::nullopt},
        {"both empty", "", "\n", std::nullopt},
    };
    ASSERT_FALSE(root_.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove(primary());
        fs::remove(secondary());
        if (c.primary) {
            write(primary(), *c.primary);
        }
        if (c.secondary) {
            write(secondary(), *c.secondary);
        }
        EXPECT_EQ(identity().platformUuid(), c.expected);
    }
}

TEST_F(MachineIdIdentityTest, DirectoryInPlaceOfTheFileIsSkipped) {
    ASSERT_FALSE(root_.empty());
    fs::create_directory(primary());
    write(secondary(), kDbusId);
    EXPECT_EQ(identity().platformUuid(), kDbusId);
}

TEST_F(MachineIdIdentityTest, UnreadableFileIsSkipped) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    ASSERT_FALSE(root_.empty());
    write(primary(), kMachineId);
    fs::permissions(primary(), fs::perms::none);
    write(secondary(), kDbusId);
    EXPECT_EQ(identity().platformUuid(), kDbusId);
}

TEST_F(MachineIdIdentityTest, ReadsAgainOnEveryCall) {
    ASSERT_FALSE(root_.empty());
    const MachineIdIdentity reader = identity();
    EXPECT_EQ(reader.platformUuid(), std::nullopt);
    write(primary(), kMachineId);
    EXPECT_EQ(reader.platformUuid(), kMachineId);
}

}  // namespace
}  // namespace tovalo
