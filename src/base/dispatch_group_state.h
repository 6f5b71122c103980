#pragma once

// The counter behind a DispatchGroup and behind a blocking `sync`. Executors wait on it: a real
// executor blocks on the condition variable, the manual executor runs queued work until the
// count drops to zero.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tovalo {

class DispatchQueue;

struct DispatchGroupState {
    std::mutex mutex;
    std::condition_variable condition;
    long count = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;

    bool isEmpty() {
        std::lock_guard lock(mutex);
        return count == 0;
    }
};

}  // namespace tovalo
