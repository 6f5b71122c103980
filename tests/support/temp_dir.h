#pragma once

// Scratch space for tests that touch the disk: a fresh directory under the system's temporary
// folder, removed with everything in it when the test ends, and whole-file helpers to set up
// and check what a test leaves there. Header only, so any test binary can use it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tovalo::test_support {

namespace fs = std::filesystem;

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tovalo-test") {
        std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary directory";
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // A test may have locked a folder to make the disk refuse; unlock before removing.
        for (auto it = fs::recursive_directory_iterator(path_, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
            }
        }
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

// Writes `text` to `path`, creating missing folders.
inline void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void appendFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Names in `dir` that start with `prefix`, sorted; empty when `dir` cannot be read.
inline std::vector<std::string> filesIn(const fs::path& dir, const std::string& prefix = "") {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tovalo::test_support
