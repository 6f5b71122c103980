#pragma once

// The user-preferences store on Linux: the values live in memory and every write replaces one
// JSON file (normally ~/.config/tovalo/preferences.json) atomically before it returns, so a
// write that returned survives a crash. A file that cannot be read as a JSON object is kept
// aside under a dated name and the store starts empty. When the disk refuses a write the value
// stays in memory, synchronize() reports false, and the next write or synchronize() retries.
// The composition root owns the one instance; it is safe to use from any thread, and readers
// never wait for the disk.
//
// JSON keeps every value's type (an integer stays an integer, 1.0 stays a floating-point
// number, doubles round-trip exactly). Two things JSON cannot hold do not survive a reload:
// non-finite doubles (written as null, so the key reads back as absent) and strings that are
// not valid UTF-8 (the bad bytes are replaced).

#include <cstdint>
#include <mutex>
#include <string>

#include "base/preferences_store.h"

namespace tovalo {

class Clock;
class NotificationCenter;

class FilePreferencesStore final : public PreferencesStore {
  public:
    // Loads `path` at once. `center` receives kDefaultsDidChangeNotification after every
    // write and may be null; `clock` dates the copy of a corrupt file and must outlive the store.
    FilePreferencesStore(std::string path, NotificationCenter* center, const Clock& clock);

    std::optional<Value> object(std::string_view key) const override;
    void set(std::string_view key, Value value) override;
    void remove(std::string_view key) override;
    bool synchronize() override;

    const std::string& path() const { return path_; }

  private:
    void load();
    // Moves an unusable file out of the way so that a later write cannot destroy it.
    bool setAsideUnusableFile();
    // Writes the current values unless the file already holds them; false when the disk refused.
    bool persist();
    void didChange();

    const std::string path_;
    NotificationCenter* const center_;
    const Clock& clock_;

    // Guards the values; never held during file operations.
    mutable std::mutex mutex_;
    ValueMap values_;
    // Counts changes of `values_`.
    std::uint64_t generation_ = 0;

    // Serialises file operations; guards the members below.
    std::mutex diskMutex_;
    std::uint64_t persistedGeneration_ = 0;
    bool unusableFilePending_ = false;
};

}  // namespace tovalo
