#pragma once

// Where main-queue work runs in the real program: the UI thread's event loop. The Qt backend
// provides one bound to its event loop; RunLoop is the plain standard-library version used by the
// headless demo and the concurrency tests.

#include <functional>
#include <thread>

namespace tovalo {

class MainThreadExecutor {
  public:
    virtual ~MainThreadExecutor() = default;
    // Queues `job` to run on the main thread in a later turn of its loop. Any thread may call it.
    virtual void post(std::function<void()> job) = 0;
    virtual bool isMainThread() const = 0;
    // The thread the loop runs on; fixed for the executor's life.
    virtual std::thread::id mainThreadId() const = 0;
};

}  // namespace tovalo
