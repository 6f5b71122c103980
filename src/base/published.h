#pragma once

// An observable value: views and other components subscribe to changes. Observers run
// synchronously on the thread that sets the value, in subscription order, after the value has
// changed. Setting the value from inside an observer is allowed; that observer sees the newer
// value in a nested delivery.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/subscription.h"

namespace tovalo {

template <typename T>
class Published {
  public:
    using Observer = std::function<void(const T&)>;

    explicit Published(T initial = T{}) : state_(std::make_shared<State>(std::move(initial))) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    T get() const {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }

    // Stores and announces the value, also when it equals the old one (as a property setter
    // does).
    void set(T value) {
        std::vector<std::shared_ptr<Entry>> observers;
        T snapshot;
        {
            std::lock_guard lock(state_->mutex);
            state_->value = std::move(value);
            snapshot = state_->value;
            observers = state_->observers;
        }
        for (const auto& entry : observers) {
            if (entry->active) {
                entry->observer(snapshot);
            }
        }
    }

    // Future changes only.
    [[nodiscard]] Subscription subscribe(Observer observer) {
        auto entry = std::make_shared<Entry>();
        entry->observer = std::move(observer);
        {
            std::lock_guard lock(state_->mutex);
            state_->observers.push_back(entry);
        }
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Entry> weakEntry = entry;
        return Subscription([weakState, weakEntry] {
            auto removed = weakEntry.lock();
            if (!removed) {
                return;
            }
            removed->active = false;
            if (auto state = weakState.lock()) {
                std::lock_guard lock(state->mutex);
                std::erase(state->observers, removed);
            }
        });
    }

    // The current value at once, then every change.
    [[nodiscard]] Subscription sink(Observer observer) {
        auto subscription = subscribe(observer);
        observer(get());
        return subscription;
    }

    // Holds `owner` weakly: once it is gone, deliveries do nothing.
    template <typename Owner>
    [[nodiscard]] Subscription subscribe(std::weak_ptr<Owner> owner,
                                         std::function<void(Owner&, const T&)> observer) {
        return subscribe([owner = std::move(owner), observer = std::move(observer)](const T& v) {
            if (auto strong = owner.lock()) {
                observer(*strong, v);
            }
        });
    }

  private:
    struct Entry {
        Observer observer;
        std::atomic<bool> active{true};
    };
    struct State {
        explicit State(T initial) : value(std::move(initial)) {}
        std::mutex mutex;
        T value;
        std::vector<std::shared_ptr<Entry>> observers;
    };
    std::shared_ptr<State> state_;
};

}  // namespace tovalo
