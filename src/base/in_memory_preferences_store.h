#pragma once

// A PreferencesStore that keeps its values in memory only: for tests and the simulated desktop.

#include <map>
#include <mutex>
#include <string>

#include "base/preferences_store.h"

namespace tovalo {

class NotificationCenter;

class InMemoryPreferencesStore final : public PreferencesStore {
  public:
    // `center` receives kDefaultsDidChangeNotification after every write; it may be null.
    explicit InMemoryPreferencesStore(NotificationCenter* center = nullptr) : center_(center) {}

    std::optional<Value> object(std::string_view key) const override;
    void set(std::string_view key, Value value) override;
    void remove(std::string_view key) override;
    bool synchronize() override { return true; }

    // Every stored value, for assertions.
    std::map<std::string, Value, std::less<>> snapshot() const;

  private:
    void didChange();

    NotificationCenter* center_;
    mutable std::mutex mutex_;
    std::map<std::string, Value, std::less<>> values_;
};

}  // namespace tovalo
