#pragma once

// An application running on the simulated desktop. Made by SimDesktop::launchApp (this program
// too, as the desktop's "self" application); the desktop marks it terminated when it quits.
// Activation is recorded so tests can check who was brought forward and how.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/workspace.h"

namespace tovalo::sim {

class SimDesktop;

class SimRunningApplication final : public RunningApplication {
  public:
    SimRunningApplication(std::weak_ptr<SimDesktop> desktop, ProcessID pid,
                          std::string bundleIdentifier, std::string name, ImageRef icon);

    ProcessID processIdentifier() const override { return pid_; }
    std::string bundleIdentifier() const override { return bundleIdentifier_; }
    std::string localizedName() const override { return name_; }
    ImageRef icon() const override;
    bool isTerminated() const override { return terminated_.load(); }
    // Makes it frontmost with its windows in front; false once it is terminated.
    bool activate(bool ignoringOtherApps) override;

    // The `ignoringOtherApps` argument of each activate call, in order.
    std::vector<bool> activationCalls() const;
    int activationCount() const;

    // Quits it through the desktop (its windows close, the termination is posted); false when
    // it is not running.
    bool terminate();

    // For tests of icon fallbacks: nullptr makes it an application without an icon.
    void setIcon(ImageRef icon);
    // Called by the desktop when the application quits.
    void markTerminated() { terminated_.store(true); }

  private:
    const std::weak_ptr<SimDesktop> desktop_;
    const ProcessID pid_;
    const std::string bundleIdentifier_;
    const std::string name_;
    std::atomic<bool> terminated_{false};
    mutable std::mutex mutex_;
    ImageRef icon_;
    std::vector<bool> activationCalls_;
};

using SimRunningApplicationRef = std::shared_ptr<SimRunningApplication>;

}  // namespace tovalo::sim
