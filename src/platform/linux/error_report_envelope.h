#pragma once

// The upload form of one stored error report: three lines of JSON separated by line breaks,
// an envelope header {event_id, dsn, sent_at}, an item header {type: "event", length} and the
// event itself. Also the headers every upload carries. Used by the error report uploader.

#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace tovalo {

inline constexpr std::string_view kErrorReportContentType = "application/x-tovalo-envelope";
inline constexpr std::string_view kErrorReportAuthHeader = "X-Tovalo-Auth";
inline constexpr std::string_view kErrorReportClientName = "tovalo-native/1.0";

struct ErrorReportEnvelope {
    std::string eventId;
    std::string body;
};

// Wraps a stored event for sending at `sentAt`. nullopt when `storedEvent` is not a JSON
// object with a non-empty string `event_id`: a corrupt spool file that can never be sent.
std::optional<ErrorReportEnvelope> makeErrorReportEnvelope(std::string_view storedEvent,
                                                           std::string_view dsn, WallTime sentAt);

// "key=<public key>, client=tovalo-native/1.0"
std::string errorReportAuthValue(std::string_view publicKey);

}  // namespace tovalo
