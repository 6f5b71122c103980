#include "base/dispatch_group.h"

#include <utility>
#include <vector>

namespace tovalo {

DispatchGroup::DispatchGroup(std::shared_ptr<Executor> executor)
    : executor_(std::move(executor)), state_(std::make_shared<DispatchGroupState>()) {}

void DispatchGroup::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() {
    leave(*state_);
}

void DispatchGroup::leave(DispatchGroupState& state) {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> ready;
    {
        std::lock_guard lock(state.mutex);
        if (state.count == 0) {
            return;
        }
        if (--state.count == 0) {
            ready.swap(state.notifications);
            state.condition.notify_all();
        }
    }
    for (auto& [queue, task] : ready) {
        queue->async(std::move(task));
    }
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, DispatchQueue::Task task) {
    enter();
    queue->async([state = state_, task = std::move(task)] {
        task();
        leave(*state);
    });
}

bool DispatchGroup::wait(std::optional<Duration> timeout) {
    std::optional<TimePoint> deadline;
    if (timeout) {
        deadline = executor_->clock().now() + *timeout;
    }
    return executor_->wait(*state_, deadline);
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, DispatchQueue::Task task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(task));
            return;
        }
    }
    queue->async(std::move(task));
}

}  // namespace tovalo
