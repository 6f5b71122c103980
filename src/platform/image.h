#pragma once

// An image the core passes around without looking inside (application icons, symbols). The
// backend that made it knows how to draw it.

#include <memory>
#include <string>

#include "base/geometry.h"

namespace tovalo {

class Image {
public:
    virtual ~Image() = default;
    virtual Size size() const = 0;
    // Where it came from, for logs and tests (an icon name, a file path, ...).
    virtual std::string description() const = 0;
};

using ImageRef = std::shared_ptr<const Image>;

}  // namespace tovalo
