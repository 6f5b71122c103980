#pragma once

// Port: the other applications and the desktop around this program: running applications, their
// icons, and where applications live. System events (sleep, wake, session switch, lock, overview,
// desktop switch, application termination) are posted on the workspace and distributed
// notification centres under the names in system_notifications.h.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_types.h"
#include "platform/image.h"

namespace tovalo {

class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual ProcessID processIdentifier() const = 0;
    // The application's identifier (on Linux its desktop-file id); may be empty.
    virtual std::string bundleIdentifier() const = 0;
    virtual std::string localizedName() const = 0;
    virtual ImageRef icon() const = 0;
    virtual bool isTerminated() const = 0;
    // Brings the application forward (its most recent window); false when it cannot.
    virtual bool activate(bool ignoringOtherApps) = 0;
};

using RunningApplicationRef = std::shared_ptr<RunningApplication>;

class Workspace {
public:
    virtual ~Workspace() = default;
    virtual std::vector<RunningApplicationRef> runningApplications() const = 0;
    virtual std::vector<RunningApplicationRef> runningApplications(
        const std::string& bundleIdentifier) const = 0;
    virtual RunningApplicationRef runningApplication(ProcessID pid) const = 0;
    // Path of an installed application found by its name; nullopt when there is none.
    virtual std::optional<std::string> fullPathForApplication(const std::string& name) const = 0;
    virtual std::optional<std::string> pathForApplication(const std::string& bundleIdentifier) const = 0;
    virtual ImageRef iconForFile(const std::string& path) const = 0;
    virtual ImageRef iconForFileType(const std::string& type) const = 0;
};

}  // namespace tovalo
