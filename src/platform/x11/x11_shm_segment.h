#pragma once

// A block of pixel memory the X server can write into directly (MIT-SHM over a memfd), so a
// window's pixels reach the process without passing through the socket. Falls back to plain
// process memory when the server cannot share memory; then `segment()` is XCB_NONE and the
// pixels have to be copied in. Owned by one FramePool or one CaptureSession; may be destroyed on
// any thread (xcb is thread-safe), and keeps its connection alive until then.

#include <xcb/shm.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

class ShmSegment {
  public:
    // `size` bytes, attached to the server when `shareWithServer` holds and the server accepts
    // it. Nullptr with `error` filled when no memory could be had at all.
    static std::unique_ptr<ShmSegment> create(std::shared_ptr<Connection> connection,
                                              std::size_t size, bool shareWithServer, Error* error);
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // The server's name for the memory; XCB_NONE when it is not shared.
    xcb_shm_seg_t segment() const { return segment_; }

  private:
    ShmSegment(std::shared_ptr<Connection> connection, std::uint8_t* data, std::size_t size,
               xcb_shm_seg_t segment);

    std::shared_ptr<Connection> connection_;
    std::uint8_t* data_;
    std::size_t size_;
    xcb_shm_seg_t segment_;
};

}  // namespace tovalo::x11
