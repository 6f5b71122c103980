#pragma once

// The installed applications as desktop entries: every "<dir>/applications/**/*.desktop" of the
// data directories ($XDG_DATA_HOME first, then $XDG_DATA_DIRS), indexed by desktop-file id
// (the path below "applications" with "/" turned into "-", without ".desktop"; an earlier
// directory hides a later one's entry of the same id). Reads Name, Icon and StartupWMClass of
// the [Desktop Entry] group. Built once and immutable afterwards, so shared between threads;
// the workspace and the window server hold it.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovalo::x11 {

struct DesktopEntry {
    std::string id;    // desktop-file id, e.g. "org.example.Editor"
    std::string path;  // the .desktop file
    std::string name;
    std::string icon;  // icon theme name or absolute path; may be empty
    std::string startupWMClass;
    bool hidden = false;  // Hidden=true or NoDisplay=true
};

class DesktopEntryIndex {
  public:
    using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

    // The data directories, most important first, from the XDG variables (with their
    // documented defaults).
    static std::vector<std::string> dataDirectories(const EnvironmentLookup& lookup);
    static std::shared_ptr<const DesktopEntryIndex> load(const std::vector<std::string>& dataDirs);
    // From the process environment.
    static std::shared_ptr<const DesktopEntryIndex> loadFromEnvironment();

    // Reads one file; nullopt when it is not an application entry.
    static std::optional<DesktopEntry> parse(const std::string& path, std::string id);

    const DesktopEntry* find(const std::string& id) const;
    // The entry of a window by its WM_CLASS: StartupWMClass equal to the class, then to the
    // instance; then a desktop-file id equal to the class or instance (also ignoring case, and
    // as the last dot-separated part of a reverse-DNS id).
    const DesktopEntry* findByWMClass(const std::string& instance,
                                      const std::string& wmClass) const;
    // By its Name, else its id.
    const DesktopEntry* findByName(const std::string& name) const;
    const std::vector<std::string>& dataDirectories() const { return dataDirs_; }
    std::size_t size() const { return entries_.size(); }

  private:
    std::vector<std::string> dataDirs_;
    std::map<std::string, DesktopEntry> entries_;
};

}  // namespace tovalo::x11
