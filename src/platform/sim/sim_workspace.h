#pragma once

// The simulated desktop's workspace: its running applications, the paths of installed
// applications (every launched application lives at "/Applications/<name>.app") and file icons
// (SimImages named after what they stand for). Owned by SimDesktop.

#include <memory>

#include "platform/workspace.h"

namespace tovalo::sim {

class SimDesktop;

class SimWorkspace final : public Workspace {
  public:
    explicit SimWorkspace(std::weak_ptr<SimDesktop> desktop);

    // Running (not terminated) applications, this program first.
    std::vector<RunningApplicationRef> runningApplications() const override;
    std::vector<RunningApplicationRef> runningApplications(
        const std::string& bundleIdentifier) const override;
    // Nullptr for an unknown or terminated process.
    RunningApplicationRef runningApplication(ProcessID pid) const override;
    std::optional<std::string> fullPathForApplication(const std::string& name) const override;
    std::optional<std::string> pathForApplication(
        const std::string& bundleIdentifier) const override;
    // "icon of file <path>".
    ImageRef iconForFile(const std::string& path) const override;
    // "icon of type <type>".
    ImageRef iconForFileType(const std::string& type) const override;

  private:
    const std::weak_ptr<SimDesktop> desktop_;
};

}  // namespace tovalo::sim
