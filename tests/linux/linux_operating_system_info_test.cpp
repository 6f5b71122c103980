#include "platform/linux/linux_operating_system_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovalo {
namespace {

TEST(LinuxOperatingSystemInfoTest, ReadsTheKernelReleaseAsAVersion) {
    struct Case {
        std::string release;
        OperatingSystemVersion expected;
    };
    const std::vector<Case> cases = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"5.15.133.1-microsoft-standard-WSL2", {5, 15, 133}},
        {"6.8", {6, 8, 0}},
        {"", {0, 0, 0}},
        {"garbage", {0, 0, 0}},
        {"4.x.2", {4, 0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinuxOperatingSystemInfo::parseRelease(c.release), c.expected) << c.release;
    }
}

}  // namespace
}  // namespace tovalo
