#include "capture/stream_output_registry.h"

#include <algorithm>

namespace tovalo {

// A delivery holds `mutex` while it checks `removed` and calls the output, so a removal (which
// takes the same mutex) waits for it; recursive, so the output may remove itself from there.
struct StreamOutputRegistry::Registration {
    std::shared_ptr<SCStreamOutput> output;
    std::shared_ptr<DispatchQueue> queue;
    std::recursive_mutex mutex;
    bool removed = false;
};

std::optional<Error> StreamOutputRegistry::add(std::shared_ptr<SCStreamOutput> output,
                                               std::shared_ptr<DispatchQueue> queue) {
    if (!output || !queue) {
        return Error{kSCStreamErrorDomain, kSCStreamErrorInvalidParameter,
                     "An output and a queue are required."};
    }
    std::lock_guard lock(mutex_);
    for (const auto& registration : outputs_) {
        if (registration->output == output) {
            return Error{kSCStreamErrorDomain, kSCStreamErrorInvalidParameter,
                         "The output was already added to the stream."};
        }
    }
    auto registration = std::make_shared<Registration>();
    registration->output = std::move(output);
    registration->queue = std::move(queue);
    outputs_.push_back(std::move(registration));
    return std::nullopt;
}

std::optional<Error> StreamOutputRegistry::remove(const std::shared_ptr<SCStreamOutput>& output) {
    std::shared_ptr<Registration> removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& registration) {
            return registration->output == output;
        });
        if (it == outputs_.end()) {
            return Error{kSCStreamErrorDomain, kSCStreamErrorInvalidParameter,
                         "The output is not on the stream."};
        }
        removed = *it;
        outputs_.erase(it);
    }
    // Waits for a delivery in progress on another thread; frames still queued see the flag.
    std::lock_guard deliveryLock(removed->mutex);
    removed->removed = true;
    return std::nullopt;
}

void StreamOutputRegistry::deliver(const VideoFrameRef& frame,
                                   const std::weak_ptr<SCStream>& stream) {
    // Queued under the lock so frames reach each queue in order.
    std::lock_guard lock(mutex_);
    for (const auto& registration : outputs_) {
        registration->queue->async([registration, frame, stream] {
            std::lock_guard deliveryLock(registration->mutex);
            if (registration->removed) {
                return;
            }
            if (auto strong = stream.lock()) {
                registration->output->didOutputFrame(*strong, frame);
            }
        });
    }
}

int StreamOutputRegistry::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(outputs_.size());
}

}  // namespace tovalo
