#include "base/in_memory_preferences_store.h"

#include "base/notification_center.h"

namespace tovalo {

std::optional<Value> InMemoryPreferencesStore::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void InMemoryPreferencesStore::set(std::string_view key, Value value) {
    if (value.isNull()) {
        remove(key);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        values_.insert_or_assign(std::string(key), std::move(value));
    }
    didChange();
}

void InMemoryPreferencesStore::remove(std::string_view key) {
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end()) {
            values_.erase(it);
        }
    }
    didChange();
}

std::map<std::string, Value, std::less<>> InMemoryPreferencesStore::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void InMemoryPreferencesStore::didChange() {
    // Posted outside the lock: observers commonly read the store back.
    if (center_) {
        center_->post(kDefaultsDidChangeNotification);
    }
}

}  // namespace tovalo
