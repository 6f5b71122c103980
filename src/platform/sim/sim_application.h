#pragma once

// This program as an application of the simulated desktop: its activation policy, activation
// (recorded; becoming active is announced on the default centre in a later turn of the main
// queue), its open windows front to back, and termination, which runs the installed
// termination handler and then only records that the process would end. Owned by SimDesktop.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/application.h"

namespace tovalo::sim {

class SimDesktop;

class SimApplication final : public Application {
  public:
    explicit SimApplication(std::weak_ptr<SimDesktop> desktop);

    ActivationPolicy activationPolicy() const override;
    void setActivationPolicy(ActivationPolicy policy) override;
    void activate(bool ignoringOtherApps) override;
    bool isActive() const override;
    // Open windows made through the window factory, front to back; ordered-out ones last.
    std::vector<PlatformWindowRef> windows() const override;
    void terminate() override;
    // The desktop's pointer and buttons.
    Point mouseLocation() const override;
    std::uint32_t pressedMouseButtons() const override;

    // The termination steps (the application delegate's will-terminate), run by `terminate`.
    void setTerminationHandler(std::function<void()> handler);
    bool isTerminated() const;
    int terminateCount() const;
    // Every policy set, in order.
    std::vector<ActivationPolicy> policyHistory() const;
    // The `ignoringOtherApps` argument of each activate call, in order.
    std::vector<bool> activationCalls() const;

  private:
    const std::weak_ptr<SimDesktop> desktop_;
    mutable std::mutex mutex_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::vector<ActivationPolicy> policyHistory_;
    std::vector<bool> activationCalls_;
    std::function<void()> terminationHandler_;
    int terminateCount_ = 0;
};

}  // namespace tovalo::sim
