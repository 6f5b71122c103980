#pragma once

// The user-preferences store: typed values under string keys, shared by every component. An
// absent key is distinct from every value; readers apply their own defaults. After every write
// the store posts kDefaultsDidChangeNotification on the notification centre it was given.
// Implementations are safe to use from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/value.h"

namespace tovalo {

inline constexpr const char* kDefaultsDidChangeNotification = "defaultsDidChange";

class PreferencesStore {
  public:
    virtual ~PreferencesStore() = default;

    // The stored value, or nullopt when the key is absent.
    virtual std::optional<Value> object(std::string_view key) const = 0;
    // Stores `value` under `key` (a null value removes the key) and posts the change.
    virtual void set(std::string_view key, Value value) = 0;
    virtual void remove(std::string_view key) = 0;
    // Makes every completed write durable; false when the backing storage refused it (the
    // values stay in memory and are retried on the next write).
    virtual bool synchronize() = 0;

    // Typed reads: nullopt when absent or when the stored value has another type. Numbers
    // convert between integer and floating point; nothing converts to or from strings.
    std::optional<bool> boolValue(std::string_view key) const;
    std::optional<std::int64_t> intValue(std::string_view key) const;
    std::optional<double> doubleValue(std::string_view key) const;
    std::optional<std::string> stringValue(std::string_view key) const;
    std::optional<std::vector<std::string>> stringList(std::string_view key) const;

    bool contains(std::string_view key) const { return object(key).has_value(); }

    void setBool(std::string_view key, bool v) { set(key, Value(v)); }
    void setInt(std::string_view key, std::int64_t v) { set(key, Value(v)); }
    void setDouble(std::string_view key, double v) { set(key, Value(v)); }
    void setString(std::string_view key, std::string v) { set(key, Value(std::move(v))); }
    void setStringList(std::string_view key, const std::vector<std::string>& v) {
        set(key, Value::stringList(v));
    }
};

}  // namespace tovalo
