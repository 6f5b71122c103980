#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/in_memory_preferences_store.h"
#include "telemetry/analytics_tracker.h"
#include "telemetry/device_id_provider.h"
#include "telemetry/error_reporter.h"

namespace tovalo {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 200;

// Minimal thread-safe stand-ins for the clients: they keep only what these tests check.
class CountingReportingClient final : public ErrorReportingClient {
  public:
    void start(const ErrorReportingOptions&) override {}
    void setUser(const ReportUser&) override {}
    void captureError(const Error&, const ScopeConfiguration& configure) override {
        record(configure);
    }
    void captureMessage(const std::string&, const ScopeConfiguration& configure) override {
        record(configure);
    }

    std::vector<ValueMap> extras() const {
        std::lock_guard lock(mutex_);
        return extras_;
    }

  private:
    void record(const ScopeConfiguration& configure) {
        ReportScope scope;
        configure(scope);
        std::lock_guard lock(mutex_);
        extras_.push_back(scope.extras());
    }

    mutable std::mutex mutex_;
    std::vector<ValueMap> extras_;
};

class NoHooks final : public UncaughtExceptionHooks {
  public:
    UncaughtExceptionHandler currentHandler() const override { return {}; }
    void setHandler(UncaughtExceptionHandler) override {}
};

// Keeps the identity as the service does: anonymous until an alias or identify replaces it.
class IdentityClient final : public AnalyticsClient {
  public:
    void initialize(const AnalyticsClientOptions&) override {}
    void setLoggingEnabled(bool) override {}
    void track(const std::string&, const ValueMap&) override {
        std::lock_guard lock(mutex_);
        ++tracked_;
    }
    void time(const std::string&) override {}
    std::string distinctId() const override {
        std::string id;
        {
            std::lock_guard lock(mutex_);
            id = distinctId_;
        }
        // Widens the window in which an unserialised caller would act on a stale identity.
        std::this_thread::yield();
        return id;
    }
    void createAlias(const std::string& alias, const std::string&) override {
        std::lock_guard lock(mutex_);
        ++aliases_;
        distinctId_ = alias;
    }
    void identify(const std::string& id) override {
        std::lock_guard lock(mutex_);
        distinctId_ = id;
    }
    void registerSuperProperties(const ValueMap&) override {}
    void setPeopleProperties(const ValueMap&) override {}

    int aliases() const {
        std::lock_guard lock(mutex_);
        return aliases_;
    }
    int tracked() const {
        std::lock_guard lock(mutex_);
        return tracked_;
    }

  private:
    mutable std::mutex mutex_;
    std::string distinctId_ = "$device:anonymous";
    int aliases_ = 0;
    int tracked_ = 0;
};

class NoHardwareIdentity final : public HardwareIdentity {
  public:
    std::optional<std::string> platformUuid() const override { return std::nullopt; }
};

// Any function of the text will do: the test compares identifiers with each other.
class CopyingHasher final : public Hasher {
  public:
    std::array<std::uint8_t, 32> sha256(std::string_view data) const override {
        std::array<std::uint8_t, 32> digest{};
        for (std::size_t i = 0; i < data.size(); ++i) {
            digest[i % digest.size()] ^= static_cast<std::uint8_t>(data[i]);
        }
        return digest;
    }
};

// Preferences that yield after every read, widening the window between reading the fallback
// and storing a new one.
class YieldingPreferences final : public PreferencesStore {
  public:
    std::optional<Value> object(std::string_view key) const override {
        auto value = inner_.object(key);
        std::this_thread::yield();
        return value;
    }
    void set(std::string_view key, Value value) override { inner_.set(key, std::move(value)); }
    void remove(std::string_view key) override { inner_.remove(key); }
    bool synchronize() override { return inner_.synchronize(); }

  private:
    InMemoryPreferencesStore inner_;
};

template <typename Body>
void runOnThreads(Body body) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            body(t);
        });
    }
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
}

// Captures racing start() are either dropped or delivered whole; once started, none is lost.
TEST(TelemetryConcurrencyTest, CapturesFromManyThreadsWhileStarting) {
    CountingReportingClient client;
    NoHooks hooks;
    ErrorReporter reporter(client, hooks, "dsn");

    runOnThreads([&](int t) {
        if (t == 0) {
            reporter.start();
        }
        for (int i = 0; i < kCallsPerThread; ++i) {
            reporter.capture(Error{"D", i, "e"}, ReportLevel::error, std::nullopt,
                             {{"operation", "T.run"}, {"thread", t}});
        }
    });
    const auto racing = client.extras().size();
    EXPECT_LE(racing, static_cast<std::size_t>(kThreads * kCallsPerThread));

    runOnThreads([&](int t) {
        for (int i = 0; i < kCallsPerThread; ++i) {
            reporter.capture("message", ReportLevel::warning, std::nullopt, {{"thread", t}});
        }
    });
    const auto all = client.extras();
    EXPECT_EQ(all.size(), racing + static_cast<std::size_t>(kThreads * kCallsPerThread));
    for (const auto& extras : all) {
        EXPECT_TRUE(extras.contains("source_file") && extras.contains("source_line"));
    }
}

// Without serialising identify, two threads could both see the anonymous identity and both
// create an alias.
TEST(TelemetryConcurrencyTest, RacingIdentifyAliasesTheAnonymousIdentityOnce) {
    IdentityClient client;
    AnalyticsTracker tracker(client, "token");
    tracker.configure();

    runOnThreads([&](int t) {
        tracker.identify("device-" + std::to_string(t % 2));
        for (int i = 0; i < kCallsPerThread; ++i) {
            tracker.track("Area - Action", {{"i", i}});
        }
    });

    EXPECT_EQ(client.aliases(), 1);
    EXPECT_EQ(client.tracked(), kThreads * kCallsPerThread);
    EXPECT_EQ(tracker.currentDistinctID(), client.distinctId());
}

// Racing first calls without a platform identifier must agree on one stored fallback UUID.
TEST(TelemetryConcurrencyTest, RacingFirstCallsAgreeOnOneFallbackIdentifier) {
    NoHardwareIdentity hardware;
    CopyingHasher hasher;
    YieldingPreferences preferences;
    CountingReportingClient client;
    NoHooks hooks;
    ErrorReporter reporter(client, hooks, "dsn");
    reporter.start();
    const DeviceIDProvider provider(hardware, hasher, preferences, reporter);

    std::mutex mutex;
    std::set<std::string> identifiers;
    runOnThreads([&](int) {
        const std::string id = provider.deviceID();
        std::lock_guard lock(mutex);
        identifiers.insert(id);
    });

    EXPECT_EQ(identifiers.size(), 1u);
    const auto stored = preferences.stringValue(DeviceIDProvider::fallbackDefaultsKey);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*identifiers.begin(), DeviceIDProvider::derive(*stored, hasher));
    EXPECT_EQ(client.extras().size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace tovalo
