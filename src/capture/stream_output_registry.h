#pragma once

// The outputs of one capture stream and the queue each wants its frames on. Frames are queued to
// every output in the order they are handed in (the caller hands them in one at a time). Removing
// an output returns only once none of its deliveries is running or can still start, so its owner
// may let it go at once; an output may remove itself from within its own frame callback.
// Thread-safe; used by capture service backends.

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/capture_service.h"

namespace tovalo {

class StreamOutputRegistry {
  public:
    // Fails (invalid parameter) without an output or a queue, or when `output` is already here.
    std::optional<Error> add(std::shared_ptr<SCStreamOutput> output,
                             std::shared_ptr<DispatchQueue> queue);
    // Fails (invalid parameter) when `output` is not here.
    std::optional<Error> remove(const std::shared_ptr<SCStreamOutput>& output);
    // Queues `frame` to every output, told as coming from `stream` (nothing once it is gone).
    void deliver(const VideoFrameRef& frame, const std::weak_ptr<SCStream>& stream);
    int count() const;

  private:
    struct Registration;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Registration>> outputs_;
};

}  // namespace tovalo
