#include "platform/linux/error_report_spool.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/posix/atomic_file.h"

namespace tovalo {

namespace {

constexpr std::string_view kPrefix = "report-";
constexpr std::string_view kSuffix = ".json";
constexpr std::size_t kSequenceDigits = 20;
constexpr std::string_view kTempPrefix = ".report.tmp-";
// How often a name taken by another process is skipped before giving up on the disk.
constexpr int kNameAttempts = 16;
// The reports are private to the user.
constexpr mode_t kDirectoryMode = 0700;

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

}  // namespace

ErrorReportSpool::ErrorReportSpool(std::string directory, Limits limits)
    : directory_(std::move(directory)), limits_(limits) {}

void ErrorReportSpool::loadLocked() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    createDirectories(directory_, kDirectoryMode);
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
    if (!createDirectories(directory_, kDirectoryMode)) {
        return false;
    }
    bool linked = false;
    {
        const auto staged = AtomicFile::stage(directory_ + "/" + std::string(kTempPrefix), report);
        // A link never replaces an existing file: a name taken by another instance of the
        // program sharing the directory is skipped rather than overwritten.
        for (int attempt = 0; staged && attempt < kNameAttempts; ++attempt) {
            fileName = fileNameFor(sequence);
            const auto result = staged->linkTo(directory_ + "/" + fileName);
            if (result == AtomicFile::LinkResult::nameTaken) {
                sequence = nextSequence_++;
            } else {
                linked = result == AtomicFile::LinkResult::linked;
                break;
            }
        }
    }  // the temporary name is removed here; a linked report keeps its own
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
    FileReadResult file = readWholeFile(path, limits_.maxReportBytes);
    if (file.status != FileReadStatus::read) {
        std::lock_guard lock(mutex_);
        if (const auto it = items_.find(entry.sequence); it != items_.end()) {
            eraseLocked(it);
        }
        return std::nullopt;
    }
    return std::move(file.contents);
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
