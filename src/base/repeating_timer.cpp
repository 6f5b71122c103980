#include "base/repeating_timer.h"

#include <atomic>
#include <mutex>

namespace tovalo {

struct RepeatingTimer::State : std::enable_shared_from_this<State> {
    std::shared_ptr<DispatchQueue> queue;
    Duration interval;
    Duration tolerance;
    std::function<void()> handler;

    std::mutex mutex;
    bool cancelled = false;
    Executor::TimerId timerId = 0;
    TimePoint nextDeadline;

    void schedule() {
        std::weak_ptr<State> weak = weak_from_this();
        std::lock_guard lock(mutex);
        if (cancelled) {
            return;
        }
        timerId = queue->executor().scheduleAt(nextDeadline, tolerance, [weak] {
            if (auto self = weak.lock()) {
                self->fired();
            }
        });
    }

    void fired() {
        {
            std::lock_guard lock(mutex);
            if (cancelled) {
                return;
            }
            const auto now = queue->executor().clock().now();
            nextDeadline += interval;
            if (nextDeadline <= now) {
                const auto missed = (now - nextDeadline) / interval + 1;
                nextDeadline += interval * missed;
            }
        }
        std::weak_ptr<State> weak = weak_from_this();
        queue->async([weak] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            {
                std::lock_guard lock(self->mutex);
                if (self->cancelled) {
                    return;
                }
            }
            self->handler();
        });
        schedule();
    }
};

RepeatingTimer::RepeatingTimer(std::shared_ptr<DispatchQueue> queue, Duration interval,
                               Duration tolerance, std::function<void()> handler)
    : state_(std::make_shared<State>()) {
    state_->queue = std::move(queue);
    // A zero interval would spin; one nanosecond is the least the clock can tell apart.
    state_->interval = interval > Duration::zero() ? interval : Duration(1);
    state_->tolerance = tolerance > Duration::zero() ? tolerance : Duration::zero();
    state_->handler = std::move(handler);
    state_->nextDeadline = state_->queue->executor().clock().now() + state_->interval;
    state_->schedule();
}

RepeatingTimer::~RepeatingTimer() {
    cancel();
}

void RepeatingTimer::cancel() {
    Executor::TimerId id = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->cancelled = true;
        id = state_->timerId;
    }
    state_->queue->executor().cancelTimer(id);
}

bool RepeatingTimer::isActive() const {
    std::lock_guard lock(state_->mutex);
    return !state_->cancelled;
}

Duration RepeatingTimer::interval() const {
    return state_->interval;
}
Duration RepeatingTimer::tolerance() const {
    return state_->tolerance;
}

}  // namespace tovalo
