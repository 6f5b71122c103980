#include "platform/linux/analytics_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tovalo {

namespace {

// Temporaries are "<file>.tmp-XXXXXX" in the same folder, so the rename stays atomic.
constexpr std::string_view kTempInfix = ".tmp-";

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes a rename in `dir` durable.
void syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string AnalyticsFiles::parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool AnalyticsFiles::ensureDirectory(const std::string& dir) {
    if (dir.empty()) {
        return false;
    }
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
        struct stat info {};
        return ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (errno != ENOENT || dir == "/" || dir == ".") {
        return false;
    }
    return ensureDirectory(parentDirectory(dir)) &&
           (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
}

bool AnalyticsFiles::writeAll(int fd, std::string_view data) {
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

bool AnalyticsFiles::replaceContents(const std::string& path, std::string_view contents) {
    if (path.empty()) {
        return false;
    }
    const std::string dir = parentDirectory(path);
    if (!ensureDirectory(dir)) {
        return false;
    }
    std::string temp = path + std::string(kTempInfix) + "XXXXXX";
    // mkostemp creates the file with mode 0600 under a unique name.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncDirectory(dir);
    return true;
}

AnalyticsFiles::ReadStatus AnalyticsFiles::readFile(const std::string& path, std::size_t maxBytes,
                                                    std::string& contents) {
    // Non-blocking so that a FIFO in the file's place cannot hang the queue.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadStatus::missing : ReadStatus::failed;
    }
    struct stat info {};
    ReadStatus status = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                                static_cast<std::size_t>(info.st_size) <= maxBytes
                            ? ReadStatus::read
                            : ReadStatus::failed;
    char buffer[16384];
    while (status == ReadStatus::read) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (contents.size() + static_cast<std::size_t>(n) > maxBytes) {
                status = ReadStatus::failed;  // grew while being read
            } else {
                contents.append(buffer, static_cast<std::size_t>(n));
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            status = ReadStatus::failed;
        }
    }
    ::close(fd);
    return status;
}

void AnalyticsFiles::removeLeftoverTemporaries(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const std::string dir = parentDirectory(path);
    const std::string prefix = fileName(path) + std::string(kTempInfix);
    DIR* stream = ::opendir(dir.c_str());
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

}  // namespace tovalo
