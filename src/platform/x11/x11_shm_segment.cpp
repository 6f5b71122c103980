#include "platform/x11/x11_shm_segment.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tovalo::x11 {

std::unique_ptr<ShmSegment> ShmSegment::create(std::shared_ptr<Connection> connection,
                                               std::size_t size, bool shareWithServer,
                                               Error* error) {
    auto fail = [error](const std::string& what) -> std::unique_ptr<ShmSegment> {
        if (error) {
            *error = Error{kX11ErrorDomain, errno, what + ": " + std::strerror(errno)};
        }
        return nullptr;
    };
    if (size == 0) {
        size = 4;
    }
    const int fd = memfd_create("tovalo-frame", MFD_CLOEXEC);
    if (fd < 0) {
        return fail("memfd_create");
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        auto result = fail("ftruncate");
        close(fd);
        return result;
    }
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        auto result = fail("mmap");
        close(fd);
        return result;
    }
    xcb_shm_seg_t segment = XCB_NONE;
    if (shareWithServer && !connection->hasFailed()) {
        segment = xcb_generate_id(connection->get());
        // xcb passes the descriptor to the server and closes it.
        if (connection->check(xcb_shm_attach_fd_checked(connection->get(), segment, fd, 0))) {
            segment = XCB_NONE;
        }
    } else {
        close(fd);
    }
    return std::unique_ptr<ShmSegment>(
        new ShmSegment(std::move(connection), static_cast<std::uint8_t*>(mapping), size, segment));
}

ShmSegment::ShmSegment(std::shared_ptr<Connection> connection, std::uint8_t* data, std::size_t size,
                       xcb_shm_seg_t segment)
    : connection_(std::move(connection)), data_(data), size_(size), segment_(segment) {}

ShmSegment::~ShmSegment() {
    if (segment_ != XCB_NONE) {
        // Unchecked: an error (server gone) arrives as an event the service ignores.
        xcb_shm_detach(connection_->get(), segment_);
        xcb_flush(connection_->get());
    }
    munmap(data_, size_);
}

}  // namespace tovalo::x11
