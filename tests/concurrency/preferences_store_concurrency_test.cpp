#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/notification_center.h"
#include "platform/posix/file_preferences_store.h"

namespace tovalo {
namespace {

namespace fs = std::filesystem;

constexpr int kWriters = 4;
constexpr int kKeysPerWriter = 8;
constexpr int kRounds = 3;

// A fresh temporary directory, removed with everything in it.
struct TemporaryDirectory {
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "tovalo-prefs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

std::string keyFor(int writer, int key) {
    return "writer" + std::to_string(writer) + ".key" + std::to_string(key);
}

// Writers each own their keys and raise every value through 0..kRounds-1 while readers
// watch; a fresh store on the same file must then see every last value.
TEST(PreferencesStoreConcurrencyTest, ConcurrentWritesAndReadsAllReachTheFile) {
    const TemporaryDirectory root;
    ASSERT_FALSE(root.path.empty());
    const std::string file = (root.path / "tovalo" / "preferences.json").string();

    ManualClock clock;
    NotificationCenter center;
    std::atomic<int> notifications{0};
    auto token = center.addObserver(kDefaultsDidChangeNotification,
                                    [&](const Notification&) { ++notifications; });
    FilePreferencesStore store(file, &center, clock);

    std::atomic<int> writersLeft{kWriters};
    std::atomic<int> badReads{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                for (int k = 0; k < kKeysPerWriter; ++k) {
                    store.setInt(keyFor(w, k), round);
                }
            }
            --writersLeft;
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            while (writersLeft.load() > 0) {
                for (int w = 0; w < kWriters; ++w) {
                    for (int k = 0; k < kKeysPerWriter; ++k) {
                        const auto value = store.object(keyFor(w, k));
                        // Absent until the first write; then one of the values written.
                        const auto number = value ? value->asInt() : 0;
                        if (!number || *number < 0 || *number >= kRounds) {
                            ++badReads;
                        }
                    }
                }
                store.synchronize();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(notifications.load(), kWriters * kKeysPerWriter * kRounds);
    EXPECT_TRUE(store.synchronize());
    FilePreferencesStore reloaded(file, nullptr, clock);
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeysPerWriter; ++k) {
            EXPECT_EQ(reloaded.intValue(keyFor(w, k)), kRounds - 1) << keyFor(w, k);
        }
    }
}

}  // namespace
}  // namespace tovalo
