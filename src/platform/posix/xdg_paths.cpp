#include "platform/posix/xdg_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace tovalo {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string join(const std::string& base, const char* relative) {
    return (base == "/" ? std::string() : base) + "/" + relative;
}

std::optional<std::string> passwordDatabaseHome() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
        result == nullptr || result->pw_dir == nullptr) {
        return std::nullopt;
    }
    return std::string(result->pw_dir);
}

}  // namespace

XdgPaths::EnvironmentLookup XdgPaths::processEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        // Read only, never written by the program, so getenv is safe from any thread.
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::string(value);
        }
        if (std::strcmp(name, "HOME") == 0) {
            return passwordDatabaseHome();
        }
        return std::nullopt;
    };
}

XdgPaths::XdgPaths(EnvironmentLookup lookup) : lookup_(std::move(lookup)) {}

std::optional<std::string> XdgPaths::absoluteVariable(const char* name) const {
    std::optional<std::string> value = lookup_ ? lookup_(name) : std::nullopt;
    // Relative (and empty) values are invalid and ignored, as the base-directory rules say.
    if (!value || value->empty() || value->front() != '/') {
        return std::nullopt;
    }
    return withoutTrailingSlashes(std::move(*value));
}

std::optional<std::string> XdgPaths::variableOrHome(const char* name,
                                                    const char* homeRelative) const {
    if (auto value = absoluteVariable(name)) {
        return value;
    }
    if (auto homeDir = home()) {
        return join(*homeDir, homeRelative);
    }
    return std::nullopt;
}

std::optional<std::string> XdgPaths::home() const {
    return absoluteVariable("HOME");
}

std::optional<std::string> XdgPaths::configHome() const {
    return variableOrHome("XDG_CONFIG_HOME", ".config");
}

std::optional<std::string> XdgPaths::stateHome() const {
    return variableOrHome("XDG_STATE_HOME", ".local/state");
}

std::optional<std::string> XdgPaths::cacheHome() const {
    return variableOrHome("XDG_CACHE_HOME", ".cache");
}

std::optional<std::string> XdgPaths::runtimeDir() const {
    return absoluteVariable("XDG_RUNTIME_DIR");
}

std::optional<std::string> XdgPaths::tovaloConfigDir() const {
    if (auto config = configHome()) {
        return join(*config, "tovalo");
    }
    return std::nullopt;
}

}  // namespace tovalo
