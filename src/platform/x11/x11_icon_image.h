#pragma once

// An application or file icon of the X11 backend: either an icon-theme icon (its name, and the
// file it was found in when the lookup succeeded) or the pixels a window published in
// _NET_WM_ICON (non-premultiplied ARGB, row by row). The Qt layer draws it: from the file, by
// theme name, or from the pixels. Immutable.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/image.h"

namespace tovalo::x11 {

class X11IconImage final : public Image {
  public:
    // A theme icon; `name` may be an absolute path. Looks for the file in the hicolor theme and
    // the pixmaps folder of the data directories; `path()` stays empty when none is found.
    static std::shared_ptr<const X11IconImage> themed(const std::string& name,
                                                      const std::vector<std::string>& dataDirs);
    static std::shared_ptr<const X11IconImage> fromPixels(std::uint32_t width, std::uint32_t height,
                                                          std::vector<std::uint32_t> argb);

    // Pixel icons: their size; theme icons: a nominal 128 x 128 (drawn scaled anyway).
    Size size() const override { return size_; }
    std::string description() const override;

    bool hasPixels() const { return !argb_.empty(); }
    const std::string& themeName() const { return name_; }
    const std::string& path() const { return path_; }
    const std::vector<std::uint32_t>& argbPixels() const { return argb_; }

    X11IconImage(std::string name, std::string path, Size size, std::vector<std::uint32_t> argb);

  private:
    std::string name_;
    std::string path_;
    Size size_;
    std::vector<std::uint32_t> argb_;
};

}  // namespace tovalo::x11
