#include "platform/x11/x11_icon_image.h"

#include <filesystem>
#include <system_error>

namespace tovalo::x11 {

namespace {

bool isFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string findIconFile(const std::string& name, const std::vector<std::string>& dataDirs) {
    if (name.empty()) {
        return {};
    }
    if (name.front() == '/') {
        return isFile(name) ? name : std::string();
    }
    static constexpr const char* kSizes[] = {"scalable", "256x256", "128x128", "96x96",
                                             "64x64",    "48x48",   "32x32",   "24x24"};
    static constexpr const char* kExtensions[] = {".png", ".svg", ".xpm"};
    for (const auto& dir : dataDirs) {
        for (const char* size : kSizes) {
            for (const char* extension : kExtensions) {
                const auto path = std::filesystem::path(dir) / "icons" / "hicolor" / size / "apps" /
                                  (name + extension);
                if (isFile(path)) {
                    return path.string();
                }
            }
        }
    }
    for (const auto& dir : dataDirs) {
        for (const char* extension : kExtensions) {
            const auto path = std::filesystem::path(dir) / "pixmaps" / (name + extension);
            if (isFile(path)) {
                return path.string();
            }
        }
    }
    return {};
}

}  // namespace

X11IconImage::X11IconImage(std::string name, std::string path, Size size,
                           std::vector<std::uint32_t> argb)
    : name_(std::move(name)), path_(std::move(path)), size_(size), argb_(std::move(argb)) {}

std::shared_ptr<const X11IconImage> X11IconImage::themed(const std::string& name,
                                                         const std::vector<std::string>& dataDirs) {
    return std::make_shared<X11IconImage>(name, findIconFile(name, dataDirs), Size{128, 128},
                                          std::vector<std::uint32_t>{});
}

std::shared_ptr<const X11IconImage> X11IconImage::fromPixels(std::uint32_t width,
                                                             std::uint32_t height,
                                                             std::vector<std::uint32_t> argb) {
    return std::make_shared<X11IconImage>(
        std::string(), std::string(), Size{static_cast<double>(width), static_cast<double>(height)},
        std::move(argb));
}

std::string X11IconImage::description() const {
    if (hasPixels()) {
        return "window icon " + std::to_string(static_cast<int>(size_.width)) + "x" +
               std::to_string(static_cast<int>(size_.height));
    }
    if (!path_.empty()) {
        return "icon file " + path_;
    }
    return "theme icon " + name_;
}

}  // namespace tovalo::x11
