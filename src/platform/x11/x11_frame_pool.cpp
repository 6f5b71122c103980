#include "platform/x11/x11_frame_pool.h"

#include <algorithm>

namespace tovalo::x11 {

FramePool::FramePool(std::shared_ptr<Connection> connection, bool shareWithServer, int capacity)
    : connection_(std::move(connection)),
      shareWithServer_(shareWithServer),
      capacity_(std::max(1, capacity)) {}

std::unique_ptr<ShmSegment> FramePool::acquire(std::size_t bytes) {
    std::vector<std::unique_ptr<ShmSegment>> stale;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return nullptr;
        }
        if (bytes != wantedBytes_) {
            wantedBytes_ = bytes;
            for (auto& buffer : idle_) {
                if (buffer->size() != bytes) {
                    stale.push_back(std::move(buffer));
                    --existing_;
                }
            }
            std::erase(idle_, nullptr);
        }
        if (!idle_.empty()) {
            auto buffer = std::move(idle_.back());
            idle_.pop_back();
            return buffer;
        }
        if (existing_ >= capacity_) {
            return nullptr;
        }
        // Counted before the allocation so concurrent returns see the right total.
        ++existing_;
        ++created_;
        peak_ = std::max(peak_, existing_);
    }
    stale.clear();  // detaching talks to the server: outside the lock
    auto buffer = ShmSegment::create(connection_, bytes, shareWithServer_, nullptr);
    if (!buffer) {
        std::lock_guard lock(mutex_);
        --existing_;
    }
    return buffer;
}

void FramePool::giveBack(std::unique_ptr<ShmSegment> buffer) {
    if (!buffer) {
        return;
    }
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || buffer->size() != wantedBytes_) {
            --existing_;
        } else {
            idle_.push_back(std::move(buffer));
        }
        if (!closed_) {
            hook = returnHook_;
        }
    }
    buffer.reset();
    if (hook) {
        hook();
    }
}

void FramePool::setReturnHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    returnHook_ = std::move(hook);
}

void FramePool::close() {
    std::vector<std::unique_ptr<ShmSegment>> idle;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        returnHook_ = nullptr;
        existing_ -= static_cast<int>(idle_.size());
        idle.swap(idle_);
    }
}

int FramePool::bufferCount() const {
    std::lock_guard lock(mutex_);
    return existing_;
}

int FramePool::peakBufferCount() const {
    std::lock_guard lock(mutex_);
    return peak_;
}

int FramePool::createdBufferCount() const {
    std::lock_guard lock(mutex_);
    return created_;
}

}  // namespace tovalo::x11
