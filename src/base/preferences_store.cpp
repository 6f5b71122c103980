#include "base/preferences_store.h"

namespace tovalo {

std::optional<bool> PreferencesStore::boolValue(std::string_view key) const {
    const auto v = object(key);
    if (!v) {
        return std::nullopt;
    }
    if (auto b = v->asBool()) {
        return b;
    }
    // A number stored under a Boolean key reads as "non-zero", as the platform's defaults do.
    if (auto d = v->asDouble()) {
        return *d != 0.0;
    }
    return std::nullopt;
}

std::optional<std::int64_t> PreferencesStore::intValue(std::string_view key) const {
    const auto v = object(key);
    return v ? v->asInt() : std::nullopt;
}

std::optional<double> PreferencesStore::doubleValue(std::string_view key) const {
    const auto v = object(key);
    return v ? v->asDouble() : std::nullopt;
}

std::optional<std::string> PreferencesStore::stringValue(std::string_view key) const {
    const auto v = object(key);
    return v ? v->asString() : std::nullopt;
}

std::optional<std::vector<std::string>> PreferencesStore::stringList(std::string_view key) const {
    const auto v = object(key);
    return v ? v->asStringList() : std::nullopt;
}

}  // namespace tovalo
