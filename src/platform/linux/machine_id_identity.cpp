#include "platform/linux/machine_id_identity.h"

#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

namespace tovalo {

namespace {

// A machine id is 33 bytes with its line break; anything far larger is not one.
constexpr std::size_t kMaxFileSize = 1024;

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char buffer[256];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        content.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (content.size() > kMaxFileSize) {
            return std::nullopt;
        }
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return content;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kWhitespace = " \t\n\v\f\r";
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

}  // namespace

MachineIdIdentity::MachineIdIdentity()
    : MachineIdIdentity({"/etc/machine-id", "/var/lib/dbus/machine-id"}) {}

MachineIdIdentity::MachineIdIdentity(std::vector<std::string> paths) : paths_(std::move(paths)) {}

std::optional<std::string> MachineIdIdentity::platformUuid() const {
    for (const auto& path : paths_) {
        const auto content = readSmallFile(path);
        if (!content) {
            continue;
        }
        const std::string_view id = trimmed(*content);
        if (id.empty() || id == "uninitialized") {
            continue;
        }
        return std::string(id);
    }
    return std::nullopt;
}

}  // namespace tovalo
