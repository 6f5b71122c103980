#include "platform/x11/x11_desktop_entry_index.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/utf8.h"
#include "platform/posix/xdg_paths.h"

namespace tovalo::x11 {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string unescape(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        switch (value[++i]) {
            case 's':
                out.push_back(' ');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            default:
                out.push_back(value[i]);
        }
    }
    return out;
}

std::vector<std::string> splitPaths(const std::string& list) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        auto part = list.substr(start, end - start);
        if (!part.empty() && part.front() == '/') {
            while (part.size() > 1 && part.back() == '/') {
                part.pop_back();
            }
            paths.push_back(std::move(part));
        }
        start = end + 1;
    }
    return paths;
}

}  // namespace

std::vector<std::string> DesktopEntryIndex::dataDirectories(const EnvironmentLookup& lookup) {
    std::vector<std::string> dirs;
    auto dataHome = lookup("XDG_DATA_HOME");
    if (dataHome && !dataHome->empty() && dataHome->front() == '/') {
        dirs.push_back(*dataHome);
    } else if (auto home = XdgPaths(lookup).home()) {
        dirs.push_back(*home + "/.local/share");
    }
    auto dataDirs = lookup("XDG_DATA_DIRS");
    auto system =
        splitPaths(dataDirs && !dataDirs->empty() ? *dataDirs : "/usr/local/share:/usr/share");
    for (auto& dir : system) {
        if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) {
            dirs.push_back(std::move(dir));
        }
    }
    return dirs;
}

std::shared_ptr<const DesktopEntryIndex> DesktopEntryIndex::loadFromEnvironment() {
    return load(dataDirectories([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }));
}

std::optional<DesktopEntry> DesktopEntryIndex::parse(const std::string& path, std::string id) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    DesktopEntry entry;
    entry.id = std::move(id);
    entry.path = path;
    bool inMainGroup = false;
    bool seenMainGroup = false;
    std::string type;
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            if (!inMainGroup && seenMainGroup) {
                break;  // only the first group matters
            }
            seenMainGroup = seenMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = sanitizeUtf8(unescape(trim(line.substr(equals + 1))));
        if (key == "Type") {
            type = value;
        } else if (key == "Name") {
            entry.name = value;
        } else if (key == "Icon") {
            entry.icon = value;
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = value;
        } else if ((key == "Hidden" || key == "NoDisplay") && value == "true") {
            entry.hidden = true;
        }
    }
    if (!seenMainGroup || type != "Application") {
        return std::nullopt;
    }
    return entry;
}

std::shared_ptr<const DesktopEntryIndex> DesktopEntryIndex::load(
    const std::vector<std::string>& dataDirs) {
    auto index = std::make_shared<DesktopEntryIndex>();
    index->dataDirs_ = dataDirs;
    namespace fs = std::filesystem;
    for (const auto& dir : dataDirs) {
        const fs::path applications = fs::path(dir) / "applications";
        std::error_code error;
        fs::recursive_directory_iterator it(applications,
                                            fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            const auto& path = it->path();
            if (path.extension() != ".desktop" || !it->is_regular_file(error)) {
                continue;
            }
            std::string id = path.lexically_relative(applications).string();
            id.resize(id.size() - std::string_view(".desktop").size());
            std::replace(id.begin(), id.end(), '/', '-');
            if (index->entries_.contains(id)) {
                continue;  // hidden by a more important directory
            }
            if (auto entry = parse(path.string(), id)) {
                index->entries_.emplace(id, std::move(*entry));
            }
        }
    }
    return index;
}

const DesktopEntry* DesktopEntryIndex::find(const std::string& id) const {
    std::string key = id;
    if (key.size() > 8 && key.ends_with(".desktop")) {
        key.resize(key.size() - 8);
    }
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

const DesktopEntry* DesktopEntryIndex::findByWMClass(const std::string& instance,
                                                     const std::string& wmClass) const {
    for (const auto* candidate : {&wmClass, &instance}) {
        if (candidate->empty()) {
            continue;
        }
        for (const auto& [id, entry] : entries_) {
            if (entry.startupWMClass == *candidate) {
                return &entry;
            }
        }
    }
    for (const auto* candidate : {&wmClass, &instance}) {
        if (candidate->empty()) {
            continue;
        }
        if (const auto* entry = find(*candidate)) {
            return entry;
        }
    }
    for (const auto* candidate : {&wmClass, &instance}) {
        if (candidate->empty()) {
            continue;
        }
        const std::string wanted = lower(*candidate);
        for (const auto& [id, entry] : entries_) {
            const std::string lowered = lower(id);
            const auto dot = lowered.rfind('.');
            if (lowered == wanted ||
                (dot != std::string::npos && lowered.substr(dot + 1) == wanted)) {
                return &entry;
            }
        }
    }
    return nullptr;
}

const DesktopEntry* DesktopEntryIndex::findByName(const std::string& name) const {
    for (const auto& [id, entry] : entries_) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return find(name);
}

}  // namespace tovalo::x11
