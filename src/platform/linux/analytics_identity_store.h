#pragma once

// Who this installation is to the analytics service, kept across runs in one small JSON file
// beside the event journals: the anonymous id ("$device:<seed>", or "$device:<random UUID>"
// made once when no seed is given), the id passed to identify(), the super properties sent
// with every event, and profile properties set while still anonymous, held until the first
// identify(). Every change rewrites the file atomically; a missing or unreadable file starts
// a fresh identity, and when the disk refuses a write the identity lives on in memory.
//
// Owned by the analytics client and used only on its serial queue: not thread-safe.

#include <optional>
#include <string>

#include "base/value.h"

namespace tovalo {

class AnalyticsIdentityStore {
  public:
    explicit AnalyticsIdentityStore(std::string path);

    // Reads the file. Call once, before anything else.
    void load(const std::optional<std::string>& deviceSeed);

    const std::string& anonymousId() const { return anonymousId_; }
    const std::optional<std::string>& identifiedId() const { return identifiedId_; }
    // The identified id, or the anonymous one until identify() was called.
    const std::string& distinctId() const { return identifiedId_ ? *identifiedId_ : anonymousId_; }

    void identify(const std::string& distinctId);

    const ValueMap& superProperties() const { return superProperties_; }
    // Replaces the whole set (the caller merges and bounds it).
    void setSuperProperties(ValueMap properties);

    const ValueMap& heldPeopleProperties() const { return heldPeopleProperties_; }
    void setHeldPeopleProperties(ValueMap properties);

    // False while the file does not hold the identity (the disk refused the last write).
    bool isPersistent() const { return persistent_; }

  private:
    void save();

    const std::string path_;
    std::string deviceUuid_;  // only when no seed was given
    std::string anonymousId_;
    std::optional<std::string> identifiedId_;
    ValueMap superProperties_;
    ValueMap heldPeopleProperties_;
    bool persistent_ = false;
};

}  // namespace tovalo
