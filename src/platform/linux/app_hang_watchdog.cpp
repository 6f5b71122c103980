#include "platform/linux/app_hang_watchdog.h"

#include <mutex>
#include <optional>

namespace tovalo {

struct AppHangWatchdog::State : std::enable_shared_from_this<State> {
    State(std::shared_ptr<DispatchQueue> main, const Clock& c, HangHandler handler, Options o)
        : mainQueue(std::move(main)), clock(c), onHang(std::move(handler)), options(o) {}

    const std::shared_ptr<DispatchQueue> mainQueue;
    const Clock& clock;
    const HangHandler onHang;
    const Options options;

    std::mutex mutex;
    // When the ping still waiting for the main queue was posted; empty when none waits.
    std::optional<TimePoint> pingPostedAt;
    bool reported = false;

    void tick() {
        std::optional<Duration> hang;
        bool post = false;
        {
            std::lock_guard lock(mutex);
            const TimePoint now = clock.now();
            if (!pingPostedAt) {
                pingPostedAt = now;
                post = true;
            } else if (!reported && now - *pingPostedAt >= options.threshold) {
                reported = true;
                hang = now - *pingPostedAt;
            }
        }
        if (post) {
            mainQueue->async([weak = weak_from_this()] {
                if (auto self = weak.lock()) {
                    self->pong();
                }
            });
        }
        if (hang && onHang) {
            onHang(*hang);
        }
    }

    void pong() {
        std::lock_guard lock(mutex);
        pingPostedAt.reset();
        reported = false;
    }
};

AppHangWatchdog::AppHangWatchdog(const std::shared_ptr<DispatchRuntime>& runtime,
                                 HangHandler onHang, Options options)
    : options_(options),
      state_(std::make_shared<State>(runtime->mainQueue(), runtime->clock(), std::move(onHang),
                                     options)) {
    timer_ = std::make_unique<RepeatingTimer>(runtime->makeSerialQueue("tovalo.app-hang-watchdog"),
                                              options.pingInterval, options.pingInterval / 10,
                                              [weak = std::weak_ptr<State>(state_)] {
                                                  if (auto self = weak.lock()) {
                                                      self->tick();
                                                  }
                                              });
}

AppHangWatchdog::~AppHangWatchdog() {
    timer_->cancel();
}

}  // namespace tovalo
