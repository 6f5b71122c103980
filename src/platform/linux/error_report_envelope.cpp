#include "platform/linux/error_report_envelope.h"

#include "platform/linux/error_report_event.h"
#include "platform/posix/value_json.h"

namespace tovalo {

namespace {
using Json = nlohmann::ordered_json;
}  // namespace

std::optional<ErrorReportEnvelope> makeErrorReportEnvelope(std::string_view storedEvent,
                                                           std::string_view dsn, WallTime sentAt) {
    // Parsed without exceptions: a corrupt file is an expected input, not an error.
    const Json event = Json::parse(storedEvent, nullptr, false);
    if (!event.is_object()) {
        return std::nullopt;
    }
    const auto id = event.find("event_id");
    if (id == event.end() || !id->is_string() || id->get_ref<const std::string&>().empty()) {
        return std::nullopt;
    }
    // Written again rather than copied, so the payload is one line whatever the file held.
    const std::string payload = jsonText(event);

    Json header = Json::object();
    header["event_id"] = *id;
    header["dsn"] = std::string(dsn);
    header["sent_at"] = formatReportTimestamp(sentAt);
    Json item = Json::object();
    item["type"] = "event";
    item["length"] = payload.size();

    ErrorReportEnvelope envelope;
    envelope.eventId = id->get<std::string>();
    envelope.body = jsonText(header);
    envelope.body += '\n';
    envelope.body += jsonText(item);
    envelope.body += '\n';
    envelope.body += payload;
    return envelope;
}

std::string errorReportAuthValue(std::string_view publicKey) {
    std::string value = "key=";
    value += publicKey;
    value += ", client=";
    value += kErrorReportClientName;
    return value;
}

}  // namespace tovalo
