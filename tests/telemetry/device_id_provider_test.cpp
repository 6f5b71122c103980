#include "telemetry/device_id_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/in_memory_preferences_store.h"
#include "base/uuid.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_hardware_identity.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"

namespace tovalo {
namespace {

using Digest = std::array<std::uint8_t, 32>;

// The published SHA-256 digest of "abc".
constexpr Digest kAbcDigest = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                               0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                               0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

// Known digests for chosen inputs; for any other input a deterministic stand-in (FNV-1a
// spread over the bytes), different for different inputs.
class FakeHasher final : public Hasher {
  public:
    std::map<std::string, Digest, std::less<>> known = {{"abc", kAbcDigest}};

    Digest sha256(std::string_view data) const override {
        if (const auto it = known.find(data); it != known.end()) {
            return it->second;
        }
        Digest digest{};
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < digest.size() * 4 + data.size(); ++i) {
            const auto byte =
                i < data.size() ? static_cast<std::uint8_t>(data[i]) : std::uint8_t{0};
            h = (h ^ byte) * 1099511628211ull;
            digest[i % digest.size()] ^= static_cast<std::uint8_t>(h >> 32);
        }
        return digest;
    }
};

bool isUrlSafeIdentifier(const std::string& id) {
    return id.size() == 22 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
           });
}

TEST(DeviceIdDeriveTest, KeepsSixteenBytesInUrlSafeBase64WithoutPadding) {
    struct Case {
        const char* label;
        Digest digest;
        const char* expected;
    };
    Digest allOnes;
    allOnes.fill(0xFF);
    Digest plusPattern{};
    for (std::size_t i = 0; i < plusPattern.size(); ++i) {
        plusPattern[i] = std::array<std::uint8_t, 3>{0xFB, 0xEF, 0xBE}[i % 3];
    }
    const std::vector<Case> cases = {
        {"the abc digest", kAbcDigest, "ungWv48Bz-pBQUDeXa4iIw"},
        {"slashes become underscores", allOnes, "_____________________w"},
        {"pluses become hyphens", plusPattern, "---------------------w"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeHasher hasher;
        hasher.known["text"] = c.digest;
        EXPECT_EQ(DeviceIDProvider::derive("text", hasher), c.expected);
    }
}

class DeviceIDProviderTest : public ::testing::Test {
  protected:
    DeviceIDProviderTest() { reporter_.start(); }

    std::optional<std::string> storedFallback() const {
        return preferences_.stringValue(DeviceIDProvider::fallbackDefaultsKey);
    }

    sim::SimHardwareIdentity hardware_;
    FakeHasher hasher_;
    InMemoryPreferencesStore preferences_;
    sim::SimErrorReportingClient client_;
    sim::SimUncaughtExceptionHooks hooks_;
    ErrorReporter reporter_{client_, hooks_, "dsn"};
    DeviceIDProvider provider_{hardware_, hasher_, preferences_, reporter_};
};

TEST_F(DeviceIDProviderTest, PlatformIdentifierGivesAStableHashedIdentifier) {
    hardware_.setPlatformUuid("4c4c4544-0042-3510-8052-b4c04f4e3732");
    const std::string first = provider_.deviceID();

    EXPECT_EQ(first, DeviceIDProvider::derive("4c4c4544-0042-3510-8052-b4c04f4e3732", hasher_));
    EXPECT_TRUE(isUrlSafeIdentifier(first)) << first;
    EXPECT_EQ(provider_.deviceID(), first);
    EXPECT_TRUE(client_.reports().empty());
    EXPECT_EQ(storedFallback(), std::nullopt);
}

TEST_F(DeviceIDProviderTest, PlatformIdentifierIsReadAgainOnEveryCall) {
    hardware_.setPlatformUuid("first-machine");
    const std::string first = provider_.deviceID();
    hardware_.setPlatformUuid("second-machine");

    EXPECT_NE(provider_.deviceID(), first);
    EXPECT_EQ(hardware_.readCount(), 2);
}

TEST_F(DeviceIDProviderTest, WithoutPlatformIdentifierAStoredRandomUuidIsUsedFromThenOn) {
    for (const std::optional<std::string>& unusable : {std::optional<std::string>{}, {""}}) {
        SCOPED_TRACE(unusable ? "empty" : "unreadable");
        preferences_.remove(DeviceIDProvider::fallbackDefaultsKey);
        hardware_.setPlatformUuid(unusable);

        const std::string first = provider_.deviceID();
        const auto stored = storedFallback();
        ASSERT_TRUE(stored.has_value());
        const auto parsed = Uuid::parse(*stored);
        ASSERT_TRUE(parsed.has_value()) << *stored;
        EXPECT_EQ(parsed->toString(), *stored) << "upper-case canonical text";
        EXPECT_EQ(first, DeviceIDProvider::derive(*stored, hasher_));
        EXPECT_TRUE(isUrlSafeIdentifier(first)) << first;

        EXPECT_EQ(provider_.deviceID(), first);
        EXPECT_EQ(storedFallback(), stored);
        // A relaunch: a new provider over the same preferences.
        const DeviceIDProvider relaunched(hardware_, hasher_, preferences_, reporter_);
        EXPECT_EQ(relaunched.deviceID(), first);
    }
}

TEST_F(DeviceIDProviderTest, StoredFallbackIsUsedAsItIsAndAnEmptyOneIsReplaced) {
    preferences_.setString(DeviceIDProvider::fallbackDefaultsKey, "abc");
    EXPECT_EQ(provider_.deviceID(), "ungWv48Bz-pBQUDeXa4iIw");

    preferences_.setString(DeviceIDProvider::fallbackDefaultsKey, "");
    const std::string replaced = provider_.deviceID();
    const auto stored = storedFallback();
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(Uuid::parse(*stored).has_value()) << *stored;
    EXPECT_EQ(replaced, DeviceIDProvider::derive(*stored, hasher_));
}

TEST_F(DeviceIDProviderTest, EveryFallbackCallFilesOneReport) {
    provider_.deviceID();
    provider_.deviceID();

    const auto reports = client_.reports();
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& report : reports) {
        EXPECT_EQ(report.message, "Device identifier unavailable, using fallback");
        EXPECT_EQ(report.scope.level(), ReportLevel::error);
        EXPECT_TRUE(report.scope.tags().empty());
        const ValueMap& extras = report.scope.extras();
        EXPECT_EQ(extras.size(), 4u);
        EXPECT_EQ(extras.at("operation"), Value("DeviceIDProvider.deviceID"));
        EXPECT_EQ(extras.at("uses_fallback"), Value(true));
        EXPECT_EQ(extras.at("source_file"), Value("device_id_provider"));
        EXPECT_TRUE(extras.at("source_line").isInt());
    }
}

TEST(DeviceIDProviderUnstartedTest, FallbackWorksWhileTheReporterIsNotStarted) {
    sim::SimHardwareIdentity hardware;
    FakeHasher hasher;
    InMemoryPreferencesStore preferences;
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    ErrorReporter reporter(client, hooks, "dsn");
    const DeviceIDProvider provider(hardware, hasher, preferences, reporter);

    EXPECT_TRUE(isUrlSafeIdentifier(provider.deviceID()));
    EXPECT_TRUE(client.reports().empty());
}

}  // namespace
}  // namespace tovalo
