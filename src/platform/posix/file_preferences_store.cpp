#include "platform/posix/file_preferences_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <variant>

#include "base/clock.h"
#include "base/notification_center.h"

namespace tovalo {

namespace {

using Json = nlohmann::json;

// Temp files are named "<file>.tmp-XXXXXX" next to the target so that rename stays atomic.
constexpr const char* kTempInfix = ".tmp-";
// The program never nests values this deep; refusing deeper input bounds the recursion.
constexpr int kMaxDepth = 64;

// ---- JSON conversion

Json toJson(const ValueMap& map);

Json toJson(const Value& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Value::Null>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, ValueList>) {
                Json array = Json::array();
                for (const Value& element : v) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, ValueMap>) {
                return toJson(v);
            } else {
                return Json(v);
            }
        },
        value.storage());
}

Json toJson(const ValueMap& map) {
    Json object = Json::object();
    for (const auto& [key, value] : map) {
        object[key] = toJson(value);
    }
    return object;
}

// nullopt for shapes a Value cannot hold exactly (binary data, integers above int64, too deep).
std::optional<Value> fromJson(const Json& json, int depth) {
    switch (json.type()) {
        case Json::value_t::null:
            return Value();
        case Json::value_t::boolean:
            return Value(json.get<bool>());
        case Json::value_t::number_integer:
            return Value(json.get<std::int64_t>());
        case Json::value_t::number_unsigned: {
            // The parser reads every non-negative integer as unsigned.
            const auto u = json.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return std::nullopt;
            }
            return Value(static_cast<std::int64_t>(u));
        }
        case Json::value_t::number_float:
            return Value(json.get<double>());
        case Json::value_t::string:
            return Value(json.get<std::string>());
        case Json::value_t::array: {
            if (depth >= kMaxDepth) {
                return std::nullopt;
            }
            ValueList list;
            list.reserve(json.size());
            for (const Json& element : json) {
                auto value = fromJson(element, depth + 1);
                if (!value) {
                    return std::nullopt;
                }
                list.push_back(std::move(*value));
            }
            return Value(std::move(list));
        }
        case Json::value_t::object: {
            if (depth >= kMaxDepth) {
                return std::nullopt;
            }
            ValueMap map;
            for (const auto& [key, element] : json.items()) {
                auto value = fromJson(element, depth + 1);
                if (!value) {
                    return std::nullopt;
                }
                map.emplace(key, std::move(*value));
            }
            return Value(std::move(map));
        }
        default:
            return std::nullopt;
    }
}

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
        if (auto value = fromJson(element, 1)) {
            values.emplace(key, std::move(*value));
        }
    }
    return values;
}

// ---- Files

std::string parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

enum class ReadStatus { kRead, kMissing, kUnreadable };

ReadStatus readFile(const std::string& path, std::string& contents) {
    // Non-blocking so that a FIFO in the file's place cannot hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadStatus::kMissing : ReadStatus::kUnreadable;
    }
    struct stat info {};
    ReadStatus status = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ReadStatus::kRead
                                                                         : ReadStatus::kUnreadable;
    char buffer[16384];
    while (status == ReadStatus::kRead) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            contents.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            status = ReadStatus::kUnreadable;
        }
    }
    ::close(fd);
    return status;
}

// Creates `dir` and its missing parents, private to the user.
bool ensureDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
        return true;
    }
    if (errno != ENOENT || dir == "/" || dir == ".") {
        return false;
    }
    return ensureDirectory(parentDirectory(dir)) &&
           (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
}

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a rename in `dir` durable.
bool syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Some file systems cannot sync a directory (EINVAL); the rename is as durable as they allow.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

// Replaces `path` with `contents` so that a crash leaves either the old or the new file whole.
bool writeFileAtomically(const std::string& path, const std::string& contents) {
    const std::string dir = parentDirectory(path);
    if (!ensureDirectory(dir)) {
        return false;
    }
    std::string temp = path + kTempInfix + "XXXXXX";
    // mkostemp creates the file with mode 0600 under a unique name.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    return syncDirectory(dir);
}

// Temp files left by a write that was interrupted; the target file is still whole.
void removeLeftoverTempFiles(const std::string& path) {
    const std::string dir = parentDirectory(path);
    const std::string prefix = fileName(path) + kTempInfix;
    DIR* stream = ::opendir(dir.c_str());
    if (stream == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
        }
    }
    ::closedir(stream);
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
    std::string text;
    const ReadStatus status = readFile(path_, text);
    if (status != ReadStatus::kMissing) {
        std::optional<ValueMap> loaded;
        if (status == ReadStatus::kRead) {
            loaded = parseDocument(text);
        }
        if (loaded) {
            values_ = std::move(*loaded);
        } else {
            // Until the file is out of the way no write may replace it.
            unusableFilePending_ = !setAsideUnusableFile();
        }
    }
    removeLeftoverTempFiles(path_);
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
        text = toJson(snapshot).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    } catch (const std::exception&) {
        return false;
    }
    if (!writeFileAtomically(path_, text)) {
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
