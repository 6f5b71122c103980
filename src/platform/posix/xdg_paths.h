#pragma once

// Where the program keeps its per-user files, following the XDG base-directory rules: a
// variable is used only when it holds an absolute path, otherwise the documented default under
// the home directory applies. The environment comes through an injectable lookup so tests never
// touch the process environment. A small value type; whoever needs a path builds one.

#include <functional>
#include <optional>
#include <string>

namespace tovalo {

class XdgPaths {
  public:
    // Answers an environment variable by name; nullopt when it is unset.
    using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

    // The real process environment. HOME falls back to the password database when unset or
    // empty.
    static EnvironmentLookup processEnvironment();

    explicit XdgPaths(EnvironmentLookup lookup = processEnvironment());

    // Every path is absolute and has no trailing slash; nullopt only when no absolute home
    // directory is known and the variable does not override it.
    std::optional<std::string> home() const;
    std::optional<std::string> configHome() const;  // $XDG_CONFIG_HOME or ~/.config
    std::optional<std::string> stateHome() const;   // $XDG_STATE_HOME or ~/.local/state
    std::optional<std::string> cacheHome() const;   // $XDG_CACHE_HOME or ~/.cache
    // $XDG_RUNTIME_DIR; the base-directory rules give it no default.
    std::optional<std::string> runtimeDir() const;

    // The program's own configuration folder: configHome()/tovalo.
    std::optional<std::string> tovaloConfigDir() const;

  private:
    std::optional<std::string> absoluteVariable(const char* name) const;
    std::optional<std::string> variableOrHome(const char* name, const char* homeRelative) const;

    EnvironmentLookup lookup_;
};

}  // namespace tovalo
