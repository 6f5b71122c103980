#include "platform/linux/analytics_identity_store.h"

#include "base/uuid.h"
#include "platform/linux/analytics_json.h"
#include "platform/posix/atomic_file.h"

namespace tovalo {

namespace {

constexpr std::string_view kAnonymousPrefix = "$device:";
// The file holds a few bounded maps; anything larger is not ours.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

constexpr const char* kDeviceUuidKey = "device_uuid";
constexpr const char* kDistinctIdKey = "distinct_id";
constexpr const char* kSuperPropertiesKey = "super_properties";
constexpr const char* kHeldPeoplePropertiesKey = "held_people_properties";

}  // namespace

AnalyticsIdentityStore::AnalyticsIdentityStore(std::string path) : path_(std::move(path)) {}

void AnalyticsIdentityStore::load(const std::optional<std::string>& deviceSeed) {
    const FileReadResult file = path_.empty() ? FileReadResult{FileReadStatus::missing, {}}
                                              : readWholeFile(path_, kMaxFileBytes);
    std::optional<Value> document;
    if (file.status == FileReadStatus::read) {
        document = AnalyticsJson::parse(file.contents);
    }
    const bool usable = document && document->isMap();
    if (usable) {
        if (auto uuid = document->find(kDeviceUuidKey);
            uuid && uuid->asString() && Uuid::parse(*uuid->asString())) {
            deviceUuid_ = *uuid->asString();
        }
        if (auto id = document->find(kDistinctIdKey);
            id && id->asString() && !id->asString()->empty()) {
            identifiedId_ = *id->asString();
        }
        if (auto map = document->find(kSuperPropertiesKey); map && map->asMap()) {
            superProperties_ = *map->asMap();
        }
        if (auto map = document->find(kHeldPeoplePropertiesKey); map && map->asMap()) {
            heldPeopleProperties_ = *map->asMap();
        }
    }

    bool changed = !usable;
    if (deviceSeed && !deviceSeed->empty()) {
        anonymousId_ = std::string(kAnonymousPrefix) + *deviceSeed;
    } else {
        if (deviceUuid_.empty()) {
            deviceUuid_ = Uuid::random().toString();
            changed = true;
        }
        anonymousId_ = std::string(kAnonymousPrefix) + deviceUuid_;
    }
    if (changed) {
        save();
    } else {
        persistent_ = true;
        removeAtomicWriteLeftovers(path_);
    }
}

void AnalyticsIdentityStore::identify(const std::string& distinctId) {
    if (distinctId.empty() || identifiedId_ == distinctId) {
        return;
    }
    identifiedId_ = distinctId;
    save();
}

void AnalyticsIdentityStore::setSuperProperties(ValueMap properties) {
    if (properties == superProperties_) {
        return;
    }
    superProperties_ = std::move(properties);
    save();
}

void AnalyticsIdentityStore::setHeldPeopleProperties(ValueMap properties) {
    if (properties == heldPeopleProperties_) {
        return;
    }
    heldPeopleProperties_ = std::move(properties);
    save();
}

void AnalyticsIdentityStore::save() {
    if (path_.empty()) {
        persistent_ = false;
        return;
    }
    ValueMap document;
    if (!deviceUuid_.empty()) {
        document.emplace(kDeviceUuidKey, deviceUuid_);
    }
    if (identifiedId_) {
        document.emplace(kDistinctIdKey, *identifiedId_);
    }
    document.emplace(kSuperPropertiesKey, superProperties_);
    document.emplace(kHeldPeoplePropertiesKey, heldPeopleProperties_);
    // The rename counts even when the folder cannot be synced: a crash then brings back the
    // previous file, still whole.
    persistent_ = writeFileAtomically(path_, AnalyticsJson::serialize(document) + "\n",
                                      {.requireDurableRename = false});
}

}  // namespace tovalo
