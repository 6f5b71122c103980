#include "platform/posix/xdg_paths.h"

#include <gtest/gtest.h>

#include <map>

namespace tovalo {
namespace {

using Environment = std::map<std::string, std::string>;

XdgPaths pathsFor(Environment environment) {
    return XdgPaths([environment = std::move(environment)](const char* name) {
        auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
}

struct PathsCase {
    const char* name;
    Environment environment;
    std::optional<std::string> configHome;
    std::optional<std::string> stateHome;
    std::optional<std::string> cacheHome;
    std::optional<std::string> runtimeDir;
    std::optional<std::string> tovaloConfigDir;
};

TEST(XdgPathsTest, ResolvesEachDirectoryFromTheEnvironment) {
    const std::optional<std::string> none;
    const PathsCase cases[] = {
        {"defaults under home",
         {{"HOME", "/home/ada"}},
         "/home/ada/.config",
         "/home/ada/.local/state",
         "/home/ada/.cache",
         none,
         "/home/ada/.config/tovalo"},
        {"absolute variables win",
         {{"HOME", "/home/ada"},
          {"XDG_CONFIG_HOME", "/cfg"},
          {"XDG_STATE_HOME", "/var/st"},
          {"XDG_CACHE_HOME", "/tmp/ca"},
          {"XDG_RUNTIME_DIR", "/run/user/1000"}},
         "/cfg",
         "/var/st",
         "/tmp/ca",
         "/run/user/1000",
         "/cfg/tovalo"},
        {"relative and empty variables are ignored",
         {{"HOME", "/home/ada"},
          {"XDG_CONFIG_HOME", "cfg"},
          {"XDG_STATE_HOME", ""},
          {"XDG_CACHE_HOME", "./ca"},
          {"XDG_RUNTIME_DIR", "run/user/1000"}},
         "/home/ada/.config",
         "/home/ada/.local/state",
         "/home/ada/.cache",
         none,
         "/home/ada/.config/tovalo"},
        {"trailing slashes are dropped",
         {{"HOME", "/home/ada/"}, {"XDG_CACHE_HOME", "/ca//"}},
         "/home/ada/.config",
         "/home/ada/.local/state",
         "/ca",
         none,
         "/home/ada/.config/tovalo"},
        {"home at the root",
         {{"HOME", "/"}, {"XDG_CONFIG_HOME", "/"}},
         "/",
         "/.local/state",
         "/.cache",
         none,
         "/tovalo"},
        {"no usable home leaves only the overrides",
         {{"HOME", "home/ada"}, {"XDG_CONFIG_HOME", "/cfg"}},
         "/cfg",
         none,
         none,
         none,
         "/cfg/tovalo"},
        {"empty environment", {}, none, none, none, none, none},
    };
    for (const PathsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const XdgPaths paths = pathsFor(c.environment);
        EXPECT_EQ(paths.configHome(), c.configHome);
        EXPECT_EQ(paths.stateHome(), c.stateHome);
        EXPECT_EQ(paths.cacheHome(), c.cacheHome);
        EXPECT_EQ(paths.runtimeDir(), c.runtimeDir);
        EXPECT_EQ(paths.tovaloConfigDir(), c.tovaloConfigDir);
    }
}

}  // namespace
}  // namespace tovalo
