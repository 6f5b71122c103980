#include "platform/posix/file_preferences_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>

#include "base/clock.h"
#include "base/notification_center.h"
#include "platform/posix/atomic_file.h"
#include "platform/posix/value_json.h"

namespace tovalo {

namespace {

using Json = nlohmann::json;

// The program never nests values this deep; refusing deeper input bounds the recursion. The
// document object itself is the first level.
constexpr int kMaxNesting = 64;

// The stored entries, or nullopt when the text is not a JSON object. Entries that are null or
// of an unsupported shape are skipped; the rest are kept.
std::optional<ValueMap> parseDocument(const std::string& text) {
    const Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    ValueMap values;
    for (const auto& [key, element] : document.items()) {
        if (element.is_null()) {
            continue;
        }
        if (auto value = valueFromJson(element, kMaxNesting - 1)) {
            values.emplace(key, std::move(*value));
        }
    }
    return values;
}

// UTC as YYYYMMDDTHHMMSSZ.
std::string compactTimestamp(WallTime time) {
    namespace chrono = std::chrono;
    const auto secs = chrono::floor<chrono::seconds>(time);
    const auto day = chrono::floor<chrono::days>(secs);
    const chrono::year_month_day date(day);
    const chrono::hh_mm_ss clock(secs - day);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d%02u%02uT%02lld%02lld%02lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(clock.hours().count()),
                  static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    return buffer;
}

}  // namespace

FilePreferencesStore::FilePreferencesStore(std::string path, NotificationCenter* center,
                                           const Clock& clock)
    : path_(std::move(path)), center_(center), clock_(clock) {
    load();
}

void FilePreferencesStore::load() {
    // The user's own file, read whatever its size.
    const FileReadResult file = readWholeFile(path_, std::numeric_limits<std::size_t>::max());
    if (file.status != FileReadStatus::missing) {
        std::optional<ValueMap> loaded;
        if (file.status == FileReadStatus::read) {
            loaded = parseDocument(file.contents);
        }
        if (loaded) {
            values_ = std::move(*loaded);
        } else {
            // Until the file is out of the way no write may replace it.
            unusableFilePending_ = !setAsideUnusableFile();
        }
    }
    removeAtomicWriteLeftovers(path_);
}

bool FilePreferencesStore::setAsideUnusableFile() {
    const std::string base = path_ + ".corrupt-" + compactTimestamp(clock_.wallNow());
    for (int counter = 0; counter < 1000; ++counter) {
        const std::string candidate = counter == 0 ? base : base + "-" + std::to_string(counter);
        struct stat info {};
        if (::lstat(candidate.c_str(), &info) == 0) {
            continue;
        }
        if (errno != ENOENT) {
            return false;
        }
        if (::rename(path_.c_str(), candidate.c_str()) == 0) {
            syncDirectory(parentDirectory(path_));
            return true;
        }
        // Gone already: nothing is left to protect.
        return errno == ENOENT;
    }
    return false;
}

std::optional<Value> FilePreferencesStore::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void FilePreferencesStore::set(std::string_view key, Value value) {
    if (value.isNull()) {
        remove(key);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end() || it->second != value) {
            values_.insert_or_assign(std::string(key), std::move(value));
            ++generation_;
        }
    }
    persist();
    didChange();
}

void FilePreferencesStore::remove(std::string_view key) {
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end()) {
            values_.erase(it);
            ++generation_;
        }
    }
    persist();
    didChange();
}

bool FilePreferencesStore::synchronize() {
    return persist();
}

bool FilePreferencesStore::persist() {
    // One writer at a time, so the file never goes back to an older state; readers only wait
    // for the snapshot copy, never for the disk.
    std::lock_guard disk(diskMutex_);
    ValueMap snapshot;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (generation_ == persistedGeneration_) {
            return true;
        }
        snapshot = values_;
        generation = generation_;
    }
    if (unusableFilePending_) {
        if (!setAsideUnusableFile()) {
            return false;
        }
        unusableFilePending_ = false;
    }
    std::string text;
    try {
        text = jsonText(valueToJson(snapshot), 2) + "\n";
    } catch (const std::exception&) {
        return false;
    }
    // A write that returned must survive a crash: the rename has to be durable too.
    if (!writeFileAtomically(path_, text, {.requireDurableRename = true})) {
        return false;
    }
    persistedGeneration_ = generation;
    return true;
}

void FilePreferencesStore::didChange() {
    // Posted outside the locks: observers commonly read the store back.
    if (center_) {
        center_->post(kDefaultsDidChangeNotification);
    }
}

}  // namespace tovalo
