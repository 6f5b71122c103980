#pragma once

// Files that are written whole or not at all, and the POSIX file helpers around them: folders
// created with a chosen mode, contents staged under a unique temporary name (O_CLOEXEC, mode
// 0600, synced) in the target's own folder and then renamed over the target, or linked to a
// name that must not exist yet, and bounded reads that cannot hang on a FIFO. A crash leaves
// the old file or the new one, never a mix, and a failed write leaves no temporary behind.
// Used by the preferences store, the analytics journal and identity store, and the error
// report spool. Failures are reported by return value; nothing here throws but std::bad_alloc.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tovalo {

// New contents for a file, staged under a temporary name until they are published under their
// real name in one step. The temporary is removed when the object goes away, unless a rename
// has already moved it. Owned by the code that writes the file.
class AtomicFile {
  public:
    enum class LinkResult { linked, nameTaken, failed };

    // Writes and syncs `contents` to a new file named `temporaryPrefix` followed by six unique
    // characters. The prefix must lie in the target's folder so that publishing stays atomic.
    // nullopt when the file cannot be created or written.
    static std::optional<AtomicFile> stage(std::string temporaryPrefix, std::string_view contents);

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    AtomicFile& operator=(AtomicFile&&) = delete;
    ~AtomicFile();

    // Moves the contents to `path`, replacing any file there. Once it succeeds the object no
    // longer owns a temporary.
    bool renameTo(const std::string& path);

    // Gives the contents the name `path` too, never replacing an existing file; a taken name can
    // be followed by another attempt under a different one.
    LinkResult linkTo(const std::string& path) const;

    const std::string& temporaryPath() const { return temporaryPath_; }

  private:
    explicit AtomicFile(std::string temporaryPath) : temporaryPath_(std::move(temporaryPath)) {}

    std::string temporaryPath_;  // empty once renamed or moved from
};

struct AtomicWriteOptions {
    // For the folders created on the way to the file.
    mode_t directoryMode = 0700;
    // True: the write fails unless the folder could be synced after the rename, so a write that
    // succeeded survives a crash. False: a crash may bring back the previous contents (still
    // whole), and the write counts as done once the rename succeeded.
    bool requireDurableRename = true;
};

// Replaces `path` with `contents`, creating missing folders, through a temporary named
// "<path>.tmp-XXXXXX" that is renamed over it; the folder is synced afterwards.
bool writeFileAtomically(const std::string& path, std::string_view contents,
                         const AtomicWriteOptions& options = {});

// Removes the temporaries that interrupted writeFileAtomically() calls left beside `path`.
void removeAtomicWriteLeftovers(const std::string& path);

// Creates `dir` and its missing parents with `mode`; true when `dir` is a directory afterwards.
bool createDirectories(const std::string& dir, mode_t mode);

// Makes a rename or link in `dir` durable; file systems that cannot sync a directory count as
// success.
bool syncDirectory(const std::string& dir);

// Writes all of `data`, retrying short writes and interruptions.
bool writeAll(int fd, std::string_view data);

// The folder part of `path`: "." for a bare name, "/" for a file at the root.
std::string parentDirectory(const std::string& path);

enum class FileReadStatus { read, missing, failed };

struct FileReadResult {
    FileReadStatus status = FileReadStatus::failed;
    std::string contents;  // empty unless `read`
};

// Reads a whole regular file of at most `maxBytes`. `missing` when it or its folder does not
// exist; `failed` for special files (opened non-blocking, so a FIFO cannot hang the caller),
// larger files, files that grow past the bound while being read, and read errors.
FileReadResult readWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace tovalo
