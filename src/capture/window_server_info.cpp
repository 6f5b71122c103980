#include "capture/window_server_info.h"

#include <array>
#include <utility>

namespace tovalo {

namespace {

enum class RecordType { string, integer, floatingPoint };

struct RecordField {
    const char* key;
    const char* windowServerKey;
    RecordType type;
};

// In the order the record is built.
constexpr std::array<RecordField, 6> kRecordFields = {{
    {WindowInfoRecordKey::ownerName, WindowInfoKey::ownerName, RecordType::string},
    {WindowInfoRecordKey::ownerPID, WindowInfoKey::ownerPID, RecordType::integer},
    {WindowInfoRecordKey::layer, WindowInfoKey::layer, RecordType::integer},
    {WindowInfoRecordKey::alpha, WindowInfoKey::alpha, RecordType::floatingPoint},
    {WindowInfoRecordKey::sharingState, WindowInfoKey::sharingState, RecordType::integer},
    {WindowInfoRecordKey::memoryUsage, WindowInfoKey::memoryUsage, RecordType::integer},
}};

std::optional<Value> typedValue(const Value& value, RecordType type) {
    switch (type) {
        case RecordType::string:
            if (auto s = value.asString()) {
                return Value(std::move(*s));
            }
            return std::nullopt;
        case RecordType::integer:
            if (auto i = value.asInt()) {
                return Value(*i);
            }
            return std::nullopt;
        case RecordType::floatingPoint:
            if (auto d = value.asDouble()) {
                return Value(*d);
            }
            return std::nullopt;
    }
    return std::nullopt;
}

// True when every element is a string-keyed record.
bool isRecordList(const ValueList& list) {
    for (const Value& element : list) {
        if (!element.isMap()) {
            return false;
        }
    }
    return true;
}

}  // namespace

WindowServerInfo::WindowServerInfo(std::shared_ptr<WindowServer> windowServer,
                                   std::shared_ptr<DispatchRuntime> runtime)
    : windowServer_(std::move(windowServer)), queue_(runtime->makeSerialQueue(queueLabel)) {}

std::shared_ptr<WindowServerInfo> WindowServerInfo::create(
    std::shared_ptr<WindowServer> windowServer, std::shared_ptr<DispatchRuntime> runtime) {
    return std::make_shared<WindowServerInfo>(std::move(windowServer), std::move(runtime));
}

std::optional<ValueMap> WindowServerInfo::firstRecord(WindowID windowID) const {
    auto list = windowServer_->copyWindowInfo(WindowListOptions::includingWindow, windowID);
    if (!list || list->empty() || !isRecordList(*list)) {
        return std::nullopt;
    }
    return *list->front().asMap();
}

std::optional<Rect> WindowServerInfo::windowBounds(WindowID windowID) const {
    return onQueue([this, windowID]() -> std::optional<Rect> {
        const auto record = firstRecord(windowID);
        if (!record) {
            return std::nullopt;
        }
        const auto found = record->find(WindowInfoKey::bounds);
        if (found == record->end() || !found->second.isMap()) {
            return std::nullopt;
        }
        const ValueMap& bounds = *found->second.asMap();
        std::array<double, 4> numbers{};
        constexpr std::array<const char*, 4> kKeys = {"X", "Y", "Width", "Height"};
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            const auto entry = bounds.find(kKeys[i]);
            if (entry == bounds.end()) {
                return std::nullopt;
            }
            const auto number = entry->second.asDouble();
            if (!number) {
                return std::nullopt;
            }
            numbers[i] = *number;
        }
        return Rect{numbers[0], numbers[1], numbers[2], numbers[3]};
    });
}

std::optional<ValueMap> WindowServerInfo::windowInfo(WindowID windowID) const {
    return onQueue([this, windowID]() -> std::optional<ValueMap> {
        auto record = firstRecord(windowID);
        if (!record) {
            return std::nullopt;
        }
        ValueMap info;
        for (const RecordField& field : kRecordFields) {
            const auto found = record->find(field.windowServerKey);
            if (found == record->end()) {
                continue;
            }
            if (auto value = typedValue(found->second, field.type)) {
                info.emplace(field.key, std::move(*value));
            }
        }
        // A record without any of the known facts is still worth more than an empty one.
        if (info.empty()) {
            return record;
        }
        return info;
    });
}

std::optional<ValueMap> WindowServerInfo::rawWindowInfo(WindowID windowID) const {
    return onQueue([this, windowID] { return firstRecord(windowID); });
}

std::optional<ValueList> WindowServerInfo::windowList(WindowListOption options,
                                                      WindowID relativeTo) const {
    return onQueue([this, options, relativeTo]() -> std::optional<ValueList> {
        auto list = windowServer_->copyWindowInfo(options, relativeTo);
        if (!list || !isRecordList(*list)) {
            return std::nullopt;
        }
        return list;
    });
}

}  // namespace tovalo
