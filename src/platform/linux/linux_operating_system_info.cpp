#include "platform/linux/linux_operating_system_info.h"

#include <sys/utsname.h>

#include <charconv>

namespace tovalo {

LinuxOperatingSystemInfo::LinuxOperatingSystemInfo() {
    utsname name{};
    if (::uname(&name) == 0) {
        version_ = parseRelease(name.release);
    }
}

OperatingSystemVersion LinuxOperatingSystemInfo::parseRelease(std::string_view release) {
    int parts[3] = {0, 0, 0};
    const char* cursor = release.data();
    const char* end = release.data() + release.size();
    for (int i = 0; i < 3 && cursor < end; ++i) {
        int value = 0;
        auto [next, error] = std::from_chars(cursor, end, value);
        if (error != std::errc() || next == cursor) {
            break;
        }
        parts[i] = value;
        cursor = next;
        if (cursor >= end || *cursor != '.') {
            break;
        }
        ++cursor;
    }
    return OperatingSystemVersion{parts[0], parts[1], parts[2]};
}

}  // namespace tovalo
