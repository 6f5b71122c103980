#include "platform/sim/sim_image.h"

#include <memory>

namespace tovalo::sim {

SimImage::SimImage(std::string description, Size size)
    : description_(std::move(description)), size_(size) {}

ImageRef SimImage::make(std::string description, Size size) {
    return std::make_shared<const SimImage>(std::move(description), size);
}

}  // namespace tovalo::sim
