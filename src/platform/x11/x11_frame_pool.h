#pragma once

// The few pixel buffers one capture stream draws its frames into, reused frame after frame so
// steady capture allocates no pixel memory. At most `capacity` buffers exist at a time (lent out
// plus idle); when all are held by consumers the stream waits for one to come back instead of
// allocating. Buffers of a size that is no longer wanted are dropped when they come back.
// Shared by the capture session that acquires buffers and by the frames that hold them; a
// buffer may come back on any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/x11/x11_shm_segment.h"

namespace tovalo::x11 {

class FramePool : public std::enable_shared_from_this<FramePool> {
  public:
    static constexpr int kDefaultCapacity = 3;

    FramePool(std::shared_ptr<Connection> connection, bool shareWithServer,
              int capacity = kDefaultCapacity);

    // A buffer of at least `bytes`, or nullptr when all buffers are lent out (or no memory).
    // Idle buffers of another size are released first.
    std::unique_ptr<ShmSegment> acquire(std::size_t bytes);
    // Takes a buffer back (any thread). Runs the return hook when a buffer became available.
    void giveBack(std::unique_ptr<ShmSegment> buffer);
    // Called, on the returning thread, each time a lent buffer comes back while the pool is open.
    void setReturnHook(std::function<void()> hook);
    // Releases the idle buffers and drops lent ones when they come back; no hook runs any more.
    void close();

    // Buffers that exist now, lent out or idle.
    int bufferCount() const;
    // The most buffers that ever existed at once, and how many were ever made.
    int peakBufferCount() const;
    int createdBufferCount() const;

  private:
    const std::shared_ptr<Connection> connection_;
    const bool shareWithServer_;
    const int capacity_;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<ShmSegment>> idle_;
    std::size_t wantedBytes_ = 0;
    int existing_ = 0;
    int peak_ = 0;
    int created_ = 0;
    bool closed_ = false;
    std::function<void()> returnHook_;
};

}  // namespace tovalo::x11
