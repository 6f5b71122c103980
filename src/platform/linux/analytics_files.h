#pragma once

// File helpers for the analytics client's state directory: folders private to the user, whole
// files replaced so that a crash leaves the old or the new contents, never a mix, and bounded
// reads that cannot hang on a FIFO. Plain functions over POSIX calls; failures are reported by
// return value and never throw. Used by the analytics journal and identity store.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovalo {

class AnalyticsFiles {
  public:
    enum class ReadStatus { read, missing, failed };

    // Creates `dir` and its missing parents with mode 0700.
    static bool ensureDirectory(const std::string& dir);

    // Replaces `path` with `contents` through a synced temporary file renamed over it.
    static bool replaceContents(const std::string& path, std::string_view contents);

    // Reads a regular file of at most `maxBytes`; a larger or special file is `failed`.
    static ReadStatus readFile(const std::string& path, std::size_t maxBytes,
                               std::string& contents);

    // Removes temporaries that an interrupted replaceContents() left beside `path`.
    static void removeLeftoverTemporaries(const std::string& path);

    // Writes all of `data`, retrying short writes and interruptions.
    static bool writeAll(int fd, std::string_view data);

    static std::string parentDirectory(const std::string& path);
};

}  // namespace tovalo
