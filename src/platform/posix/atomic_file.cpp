#include "platform/posix/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tovalo {

namespace {

// writeFileAtomically() stages "<file>.tmp-XXXXXX" next to the target.
constexpr std::string_view kTemporaryInfix = ".tmp-";

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// ---- AtomicFile

std::optional<AtomicFile> AtomicFile::stage(std::string temporaryPrefix,
                                            std::string_view contents) {
    std::string path = std::move(temporaryPrefix) + "XXXXXX";
    // mkostemp creates the file with mode 0600 under a unique name.
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    AtomicFile file(std::move(path));
    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        return std::nullopt;  // the destructor removes the temporary
    }
    return file;
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : temporaryPath_(std::exchange(other.temporaryPath_, std::string())) {}

AtomicFile::~AtomicFile() {
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
    }
}

bool AtomicFile::renameTo(const std::string& path) {
    if (temporaryPath_.empty() || ::rename(temporaryPath_.c_str(), path.c_str()) != 0) {
        return false;
    }
    temporaryPath_.clear();
    return true;
}

AtomicFile::LinkResult AtomicFile::linkTo(const std::string& path) const {
    if (temporaryPath_.empty()) {
        return LinkResult::failed;
    }
    if (::link(temporaryPath_.c_str(), path.c_str()) == 0) {
        return LinkResult::linked;
    }
    return errno == EEXIST ? LinkResult::nameTaken : LinkResult::failed;
}

// ---- Whole-file writes

bool writeFileAtomically(const std::string& path, std::string_view contents,
                         const AtomicWriteOptions& options) {
    if (path.empty()) {
        return false;
    }
    const std::string dir = parentDirectory(path);
    if (!createDirectories(dir, options.directoryMode)) {
        return false;
    }
    auto file = AtomicFile::stage(path + std::string(kTemporaryInfix), contents);
    if (!file || !file->renameTo(path)) {
        return false;
    }
    return syncDirectory(dir) || !options.requireDurableRename;
}

void removeAtomicWriteLeftovers(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const std::string prefix = fileName(path) + std::string(kTemporaryInfix);
    DIR* stream = ::opendir(parentDirectory(path).c_str());
    if (stream == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
        }
    }
    ::closedir(stream);
}

// ---- Helpers

bool createDirectories(const std::string& dir, mode_t mode) {
    if (dir.empty()) {
        return false;
    }
    if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) {
        if (errno != ENOENT || dir == "/" || dir == ".") {
            return false;
        }
        if (!createDirectories(parentDirectory(dir), mode) ||
            (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST)) {
            return false;
        }
    }
    return isDirectory(dir);
}

bool syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

bool writeAll(int fd, std::string_view data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::string parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// ---- Reads

FileReadResult readWholeFile(const std::string& path, std::size_t maxBytes) {
    FileReadResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.status =
            errno == ENOENT || errno == ENOTDIR ? FileReadStatus::missing : FileReadStatus::failed;
        return result;
    }
    struct stat info {};
    result.status = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                            static_cast<std::size_t>(info.st_size) <= maxBytes
                        ? FileReadStatus::read
                        : FileReadStatus::failed;
    char buffer[16384];
    while (result.status == FileReadStatus::read) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (result.contents.size() + static_cast<std::size_t>(n) > maxBytes) {
                result.status = FileReadStatus::failed;  // grew while being read
            } else {
                result.contents.append(buffer, static_cast<std::size_t>(n));
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.status = FileReadStatus::failed;
        }
    }
    ::close(fd);
    if (result.status != FileReadStatus::read) {
        result.contents.clear();
    }
    return result;
}

}  // namespace tovalo
