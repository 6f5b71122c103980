#include "base/notification_center.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "base/dispatch_queue.h"

namespace tovalo {

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        remover_ = std::move(other.remover_);
        other.remover_ = nullptr;
    }
    return *this;
}

void ObserverToken::reset() {
    if (remover_) {
        auto remover = std::move(remover_);
        remover_ = nullptr;
        remover();
    }
}

struct NotificationCenter::Entry {
    std::string name;
    // Weak: a delivery still waiting in the queue holds this entry, and a strong reference back
    // to the queue would keep both alive forever if the queue never runs again.
    std::weak_ptr<DispatchQueue> queue;
    bool onPostingThread = true;
    Handler handler;
    std::atomic<bool> active{true};
};

struct NotificationCenter::State {
    std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries;
};

NotificationCenter::NotificationCenter(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() {
    std::vector<std::shared_ptr<Entry>> entries;
    {
        std::lock_guard lock(state_->mutex);
        entries.swap(state_->entries);
    }
    // Handlers are destroyed outside the lock: what they own may remove other observers.
    for (auto& entry : entries) {
        entry->active = false;
    }
}

ObserverToken NotificationCenter::addObserver(std::string name, Handler handler) {
    return add(std::move(name), nullptr, std::move(handler));
}

ObserverToken NotificationCenter::addObserver(std::string name,
                                              std::shared_ptr<DispatchQueue> queue,
                                              Handler handler) {
    return add(std::move(name), std::move(queue), std::move(handler));
}

ObserverToken NotificationCenter::add(std::string name, std::shared_ptr<DispatchQueue> queue,
                                      Handler handler) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->onPostingThread = queue == nullptr;
    entry->queue = queue;
    entry->handler = std::move(handler);
    {
        std::lock_guard lock(state_->mutex);
        state_->entries.push_back(entry);
    }
    std::weak_ptr<State> weakState = state_;
    std::weak_ptr<Entry> weakEntry = entry;
    return ObserverToken([weakState, weakEntry] {
        auto removed = weakEntry.lock();
        if (!removed) {
            return;
        }
        removed->active = false;
        if (auto state = weakState.lock()) {
            std::lock_guard lock(state->mutex);
            std::erase(state->entries, removed);
        }
    });
}

void NotificationCenter::post(std::string name, std::any object, ValueMap userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(Notification notification) {
    // Deliver to a snapshot taken now: observers added during delivery see the next post, and
    // removing an observer (even itself) during delivery is safe.
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& entry : state_->entries) {
            if (entry->name == notification.name) {
                targets.push_back(entry);
            }
        }
    }
    if (targets.empty()) {
        return;
    }
    auto shared = std::make_shared<const Notification>(std::move(notification));
    for (const auto& entry : targets) {
        if (!entry->active) {
            continue;
        }
        if (entry->onPostingThread) {
            entry->handler(*shared);
        } else if (auto queue = entry->queue.lock()) {
            queue->async([entry, shared] {
                if (entry->active) {
                    entry->handler(*shared);
                }
            });
        }
    }
}

}  // namespace tovalo
