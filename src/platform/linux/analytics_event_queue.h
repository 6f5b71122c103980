#pragma once

// A persistent, bounded first-in-first-out queue of analytics records (JSON object texts). It
// lives in an append-only journal file, so a record survives a crash of the program once
// append() returned and a power loss once sync() returned. Every journal line carries a
// checksum: a torn or damaged line is skipped when the journal is read back and every other
// record is kept. Past `capacity` the oldest records are dropped. Removals are appended as
// markers, and the file is compacted once its dead part outweighs the live one. When the disk
// refuses a write the records stay in memory and every later change tries to rewrite the whole
// journal, so nothing is lost while the program runs.
//
// Owned by the analytics client and used only on its serial queue: not thread-safe.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tovalo {

class AnalyticsEventQueue {
  public:
    struct Record {
        std::uint64_t sequence = 0;  // increases with every append
        std::string json;
    };

    // `capacity` of at least one record. Touches no file until load().
    AnalyticsEventQueue(std::string journalPath, std::size_t capacity);
    ~AnalyticsEventQueue();
    AnalyticsEventQueue(const AnalyticsEventQueue&) = delete;
    AnalyticsEventQueue& operator=(const AnalyticsEventQueue&) = delete;

    // Reads back what an earlier run left and opens the journal for appending. Call once,
    // before anything else.
    void load();

    void append(std::string json);
    // Forces appended lines to the disk; does nothing when none is pending.
    void sync();

    // The oldest records, at most `maxCount` of them, oldest first.
    std::vector<Record> peek(std::size_t maxCount) const;
    // Removes every record whose sequence is at most `sequence` (delivered or refused).
    void removeThrough(std::uint64_t sequence);

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    // Records dropped to keep within the capacity since load().
    std::uint64_t droppedCount() const { return dropped_; }
    // False while the journal does not hold the queue (the disk refused a write).
    bool isPersistent() const { return persistent_; }
    const std::string& path() const { return path_; }

  private:
    void readJournal(bool& needsRewrite);
    // Replaces the journal with the live records; false when the disk refused.
    bool rewrite();
    bool writeLine(std::string_view line);
    // Records the removal of the records up to `sequence`, which took `bytes` of journal.
    void noteRemoved(std::uint64_t sequence, std::size_t bytes);
    void closeJournal();

    const std::string path_;
    const std::size_t capacity_;
    std::deque<Record> records_;
    std::uint64_t nextSequence_ = 1;
    std::uint64_t dropped_ = 0;
    int fd_ = -1;
    bool persistent_ = false;
    bool unsynced_ = false;
    std::size_t liveBytes_ = 0;  // journal bytes of the records in memory
    std::size_t deadBytes_ = 0;  // journal bytes of removed records and markers
};

}  // namespace tovalo
