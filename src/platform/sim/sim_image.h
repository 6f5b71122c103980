#pragma once

// An image of the simulated desktop: no pixels, only a size and a description that names where it
// came from ("icon of org.example.Editor", "icon of file /Applications/Editor.app"), so tests can
// tell which icon a caller picked.

#include <string>

#include "platform/image.h"

namespace tovalo::sim {

class SimImage final : public Image {
  public:
    SimImage(std::string description, Size size = Size{128, 128});

    static ImageRef make(std::string description, Size size = Size{128, 128});

    Size size() const override { return size_; }
    std::string description() const override { return description_; }

  private:
    std::string description_;
    Size size_;
};

}  // namespace tovalo::sim
