#pragma once

// Cooperative cancellation. A long job receives a CancellationToken and checks it between
// steps; whoever started the job keeps a TaskHandle and may cancel it at any time. Work that has
// not started when it is cancelled never starts.

#include <atomic>
#include <memory>

namespace tovalo {

class CancellationToken {
  public:
    CancellationToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
    bool isCancelled() const { return flag_->load(std::memory_order_acquire); }

  private:
    friend class TaskHandle;
    std::shared_ptr<std::atomic<bool>> flag_;
};

class TaskHandle {
  public:
    TaskHandle() = default;
    explicit TaskHandle(CancellationToken token) : token_(std::move(token)), valid_(true) {}

    void cancel() const {
        if (valid_) {
            token_.flag_->store(true, std::memory_order_release);
        }
    }
    bool isCancelled() const { return valid_ && token_.isCancelled(); }
    const CancellationToken& token() const { return token_; }

  private:
    CancellationToken token_;
    bool valid_ = false;
};

}  // namespace tovalo
