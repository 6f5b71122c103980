#include "platform/linux/error_report_spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace tovalo {

namespace {

constexpr std::string_view kPrefix = "report-";
constexpr std::string_view kSuffix = ".json";
constexpr std::size_t kSequenceDigits = 20;
constexpr std::string_view kTempPrefix = ".report.tmp-";
// How often a name taken by another process is skipped before giving up on the disk.
constexpr int kNameAttempts = 16;

std::string fileNameFor(std::uint64_t sequence) {
    char name[64];
    std::snprintf(name, sizeof name, "report-%020llu.json",
                  static_cast<unsigned long long>(sequence));
    return name;
}

// The sequence number of a report file's name; nullopt for any other name.
std::optional<std::uint64_t> sequenceOf(std::string_view name) {
    if (name.size() != kPrefix.size() + kSequenceDigits + kSuffix.size() ||
        !name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
        return std::nullopt;
    }
    std::uint64_t sequence = 0;
    for (const char c : name.substr(kPrefix.size(), kSequenceDigits)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        sequence = sequence * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return sequence;
}

// Creates `path` and its missing parents; true when it is a directory afterwards.
bool ensureDirectory(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(path.c_str(), 0700);
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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

void syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Reads at most `limit` + 1 bytes, enough to tell an oversized file; nullopt on failure.
std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[16 * 1024];
    bool ok = true;
    while (text.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok || text.size() > limit) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

ErrorReportSpool::ErrorReportSpool(std::string directory, Limits limits)
    : directory_(std::move(directory)), limits_(limits) {}

void ErrorReportSpool::loadLocked() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    ensureDirectory(directory_);
    DIR* stream = ::opendir(directory_.c_str());
    if (stream == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name.starts_with(kTempPrefix)) {
            // Left by a write that was interrupted; the report it held was never stored.
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
            continue;
        }
        const auto sequence = sequenceOf(name);
        if (!sequence) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(stream), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        const auto size = static_cast<std::size_t>(info.st_size);
        if (size == 0 || size > limits_.maxReportBytes) {
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
            continue;
        }
        items_[*sequence] = Item{std::string(name), size, std::nullopt};
        totalBytes_ += size;
        if (*sequence >= nextSequence_) {
            nextSequence_ = *sequence + 1;
        }
    }
    ::closedir(stream);
    enforceLimitsLocked();
}

bool ErrorReportSpool::writeFileLocked(std::uint64_t& sequence, const std::string& report,
                                       std::string& fileName) {
    if (!ensureDirectory(directory_)) {
        return false;
    }
    std::string temp = directory_ + "/" + std::string(kTempPrefix) + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, report) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // A link never replaces an existing file: a name taken by another instance of the program
    // sharing the directory is skipped rather than overwritten.
    bool linked = false;
    for (int attempt = 0; ok && !linked && attempt < kNameAttempts; ++attempt) {
        fileName = fileNameFor(sequence);
        const std::string path = directory_ + "/" + fileName;
        if (::link(temp.c_str(), path.c_str()) == 0) {
            linked = true;
        } else if (errno == EEXIST) {
            sequence = nextSequence_++;
        } else {
            ok = false;
        }
    }
    ::unlink(temp.c_str());
    if (linked) {
        syncDirectory(directory_);
    }
    return linked;
}

bool ErrorReportSpool::add(std::string report) {
    std::lock_guard lock(mutex_);
    loadLocked();
    std::uint64_t sequence = nextSequence_++;
    std::string fileName;
    const std::size_t size = report.size();
    const bool onDisk = writeFileLocked(sequence, report, fileName);
    if (onDisk) {
        items_[sequence] = Item{std::move(fileName), size, std::nullopt};
    } else {
        items_[sequence] = Item{std::string(), size, std::move(report)};
    }
    totalBytes_ += size;
    enforceLimitsLocked();
    return onDisk;
}

void ErrorReportSpool::enforceLimitsLocked() {
    while (!items_.empty() &&
           (items_.size() > limits_.maxReports || totalBytes_ > limits_.maxTotalBytes)) {
        eraseLocked(items_.begin());
        ++dropped_;
    }
}

void ErrorReportSpool::eraseLocked(std::map<std::uint64_t, Item>::iterator it) {
    if (!it->second.fileName.empty()) {
        // A file that cannot be deleted is still forgotten, so it is not sent twice in this
        // run; the next run finds it again and the service drops the repeated event id.
        ::unlink((directory_ + "/" + it->second.fileName).c_str());
    }
    totalBytes_ -= it->second.size;
    items_.erase(it);
}

std::vector<ErrorReportSpool::Entry> ErrorReportSpool::list() {
    std::lock_guard lock(mutex_);
    loadLocked();
    std::vector<Entry> entries;
    entries.reserve(items_.size());
    for (const auto& [sequence, item] : items_) {
        entries.push_back(Entry{sequence, item.size, item.contents.has_value()});
    }
    return entries;
}

std::optional<std::string> ErrorReportSpool::read(const Entry& entry) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        loadLocked();
        const auto it = items_.find(entry.sequence);
        if (it == items_.end()) {
            return std::nullopt;
        }
        if (it->second.contents) {
            return it->second.contents;
        }
        path = directory_ + "/" + it->second.fileName;
    }
    // Read outside the lock: a slow disk must not hold up the writer.
    auto text = readFile(path, limits_.maxReportBytes);
    if (!text) {
        std::lock_guard lock(mutex_);
        if (const auto it = items_.find(entry.sequence); it != items_.end()) {
            eraseLocked(it);
        }
    }
    return text;
}

void ErrorReportSpool::remove(const Entry& entry) {
    std::lock_guard lock(mutex_);
    if (const auto it = items_.find(entry.sequence); it != items_.end()) {
        eraseLocked(it);
    }
}

std::size_t ErrorReportSpool::droppedCount() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace tovalo
