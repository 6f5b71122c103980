#include "platform/linux/analytics_event_queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <optional>

#include "platform/linux/analytics_json.h"
#include "platform/posix/atomic_file.h"

namespace tovalo {

namespace {

// A journal line is "<crc32, 8 hex digits> <body>\n", the checksum taken over the body.
// Bodies: "R <sequence> <json>" for a record, "D <sequence>" for "removed up to here".
constexpr char kRecordKind = 'R';
constexpr char kRemovedKind = 'D';
// Records are a few kilobytes at most; a longer line is damage, not data.
constexpr std::size_t kMaxLineBytes = 1024 * 1024;
// Below this much dead journal, appending a marker is cheaper than compacting.
constexpr std::size_t kCompactionFloor = 64 * 1024;
// The state folder is private to the user.
constexpr mode_t kDirectoryMode = 0700;
// A rewrite counts even when the folder cannot be synced: a crash then brings back the previous
// journal, still whole.
constexpr AtomicWriteOptions kWriteOptions{.directoryMode = kDirectoryMode,
                                           .requireDurableRename = false};

constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}();

std::uint32_t crc32(std::string_view data) {
    std::uint32_t c = 0xFFFFFFFFU;
    for (const char ch : data) {
        c = kCrcTable[(c ^ static_cast<unsigned char>(ch)) & 0xFFU] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFU;
}

std::string formatLine(char kind, std::uint64_t sequence, std::string_view payload) {
    std::string body(1, kind);
    body += ' ';
    body += std::to_string(sequence);
    if (!payload.empty()) {
        body += ' ';
        body += payload;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const std::uint32_t crc = crc32(body);
    std::string line(8, '0');
    for (int i = 0; i < 8; ++i) {
        line[static_cast<std::size_t>(7 - i)] = kHex[(crc >> (4 * i)) & 0xFU];
    }
    line += ' ';
    line += body;
    line += '\n';
    return line;
}

std::size_t recordLineSize(const AnalyticsEventQueue::Record& record) {
    // Checksum and spaces, kind, sequence digits, JSON, newline.
    return 9 + 2 + std::to_string(record.sequence).size() + 1 + record.json.size() + 1;
}

struct ParsedLine {
    char kind = 0;
    std::uint64_t sequence = 0;
    std::string_view payload;
};

// nullopt for a line that is torn, damaged or not ours. `line` has no newline.
std::optional<ParsedLine> parseLine(std::string_view line) {
    if (line.size() < 12 || line[8] != ' ') {
        return std::nullopt;
    }
    std::uint32_t crc = 0;
    const auto [crcEnd, crcError] = std::from_chars(line.data(), line.data() + 8, crc, 16);
    if (crcError != std::errc() || crcEnd != line.data() + 8) {
        return std::nullopt;
    }
    const std::string_view body = line.substr(9);
    if (crc32(body) != crc || body[1] != ' ') {
        return std::nullopt;
    }
    ParsedLine parsed;
    parsed.kind = body[0];
    const char* digits = body.data() + 2;
    const char* end = body.data() + body.size();
    const auto [seqEnd, seqError] = std::from_chars(digits, end, parsed.sequence);
    if (seqError != std::errc() || seqEnd == digits || parsed.sequence == 0) {
        return std::nullopt;
    }
    if (parsed.kind == kRemovedKind) {
        return seqEnd == end ? std::optional(parsed) : std::nullopt;
    }
    if (parsed.kind != kRecordKind || seqEnd == end || *seqEnd != ' ') {
        return std::nullopt;
    }
    parsed.payload = std::string_view(seqEnd + 1, static_cast<std::size_t>(end - seqEnd - 1));
    // A record goes out inside a JSON array: only a whole object may pass.
    const auto value = AnalyticsJson::parse(parsed.payload);
    if (!value || !value->isMap()) {
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

AnalyticsEventQueue::AnalyticsEventQueue(std::string journalPath, std::size_t capacity)
    : path_(std::move(journalPath)), capacity_(std::max<std::size_t>(capacity, 1)) {}

AnalyticsEventQueue::~AnalyticsEventQueue() {
    closeJournal();
}

void AnalyticsEventQueue::closeJournal() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void AnalyticsEventQueue::load() {
    bool needsRewrite = false;
    if (path_.empty() || !createDirectories(parentDirectory(path_), kDirectoryMode)) {
        return;  // memory only; every change retries the disk
    }
    removeAtomicWriteLeftovers(path_);
    readJournal(needsRewrite);
    if (needsRewrite) {
        rewrite();
        return;
    }
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    persistent_ = fd_ >= 0;
}

void AnalyticsEventQueue::readJournal(bool& needsRewrite) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        needsRewrite = errno != ENOENT;
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        needsRewrite = true;
        return;
    }

    std::uint64_t removedThrough = 0;
    std::uint64_t highestSequence = 0;
    std::uint64_t droppedWhileReading = 0;
    const auto handleLine = [&](std::string_view line) {
        const auto parsed = parseLine(line);
        if (!parsed) {
            needsRewrite = true;
            return;
        }
        if (parsed->kind == kRemovedKind) {
            removedThrough = std::max(removedThrough, parsed->sequence);
            needsRewrite = true;
        } else if (parsed->sequence <= highestSequence) {
            needsRewrite = true;  // out of order: not written by this queue
        } else {
            records_.push_back(Record{parsed->sequence, std::string(parsed->payload)});
            // Memory stays bounded whatever the file holds; markers further on may still
            // remove some of the older records, so allow slack before dropping.
            if (records_.size() > 2 * capacity_) {
                records_.pop_front();
                ++droppedWhileReading;
            }
        }
        highestSequence = std::max(highestSequence, parsed->sequence);
    };

    std::string pending;
    bool skippingLongLine = false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            needsRewrite = needsRewrite || n < 0;
            break;
        }
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        while (!chunk.empty()) {
            const auto newline = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, newline);
            if (!skippingLongLine) {
                if (pending.size() + piece.size() > kMaxLineBytes) {
                    skippingLongLine = true;
                    needsRewrite = true;
                    pending.clear();
                } else {
                    pending.append(piece);
                }
            }
            if (newline == std::string_view::npos) {
                break;
            }
            if (!skippingLongLine) {
                handleLine(pending);
            }
            pending.clear();
            skippingLongLine = false;
            chunk.remove_prefix(newline + 1);
        }
    }
    ::close(fd);
    if (!pending.empty() || skippingLongLine) {
        needsRewrite = true;  // a torn last line
    }

    while (!records_.empty() && records_.front().sequence <= removedThrough) {
        records_.pop_front();
    }
    dropped_ = droppedWhileReading;
    while (records_.size() > capacity_) {
        records_.pop_front();
        ++dropped_;
        needsRewrite = true;
    }
    needsRewrite = needsRewrite || dropped_ > 0;
    nextSequence_ = std::max(highestSequence, removedThrough) + 1;
    liveBytes_ = 0;
    for (const Record& record : records_) {
        liveBytes_ += recordLineSize(record);
    }
}

bool AnalyticsEventQueue::rewrite() {
    std::string contents;
    contents.reserve(liveBytes_);
    for (const Record& record : records_) {
        contents += formatLine(kRecordKind, record.sequence, record.json);
    }
    closeJournal();
    persistent_ = false;
    if (path_.empty() || !writeFileAtomically(path_, contents, kWriteOptions)) {
        return false;
    }
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    persistent_ = fd_ >= 0;
    deadBytes_ = 0;
    unsynced_ = false;  // writeFileAtomically synced the file
    return persistent_;
}

bool AnalyticsEventQueue::writeLine(std::string_view line) {
    if (!writeAll(fd_, line)) {
        // The file may now end in a torn line; only a rewrite can make it whole again.
        persistent_ = false;
        return false;
    }
    unsynced_ = true;
    return true;
}

void AnalyticsEventQueue::append(std::string json) {
    records_.push_back(Record{nextSequence_++, std::move(json)});
    const Record& record = records_.back();
    liveBytes_ += recordLineSize(record);
    const std::string line = formatLine(kRecordKind, record.sequence, record.json);

    std::uint64_t droppedThrough = 0;
    std::size_t droppedBytes = 0;
    while (records_.size() > capacity_) {
        droppedThrough = records_.front().sequence;
        droppedBytes += recordLineSize(records_.front());
        liveBytes_ -= recordLineSize(records_.front());
        records_.pop_front();
        ++dropped_;
    }

    if (!persistent_) {
        rewrite();
        return;
    }
    if (writeLine(line) && droppedThrough != 0) {
        noteRemoved(droppedThrough, droppedBytes);
    }
}

void AnalyticsEventQueue::sync() {
    if (persistent_ && unsynced_ && fd_ >= 0) {
        ::fdatasync(fd_);
        unsynced_ = false;
    }
}

std::vector<AnalyticsEventQueue::Record> AnalyticsEventQueue::peek(std::size_t maxCount) const {
    const auto count = std::min(maxCount, records_.size());
    return {records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(count)};
}

void AnalyticsEventQueue::removeThrough(std::uint64_t sequence) {
    std::uint64_t last = 0;
    std::size_t bytes = 0;
    while (!records_.empty() && records_.front().sequence <= sequence) {
        last = records_.front().sequence;
        bytes += recordLineSize(records_.front());
        liveBytes_ -= recordLineSize(records_.front());
        records_.pop_front();
    }
    if (last != 0) {
        noteRemoved(last, bytes);
    }
}

void AnalyticsEventQueue::noteRemoved(std::uint64_t sequence, std::size_t bytes) {
    deadBytes_ += bytes;
    if (!persistent_) {
        rewrite();
        return;
    }
    if (records_.empty()) {
        // Everything is gone: an empty journal says so without a marker.
        if (::ftruncate(fd_, 0) == 0) {
            deadBytes_ = 0;
            unsynced_ = true;
        } else {
            persistent_ = false;
        }
        return;
    }
    if (deadBytes_ > kCompactionFloor && deadBytes_ > liveBytes_) {
        rewrite();
        return;
    }
    const std::string marker = formatLine(kRemovedKind, sequence, {});
    if (writeLine(marker)) {
        deadBytes_ += marker.size();
    }
}

}  // namespace tovalo
