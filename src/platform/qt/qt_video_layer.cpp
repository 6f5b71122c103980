#include "platform/qt/qt_video_layer.h"

#include <QPainter>
#include <limits>
#include <vector>

namespace tovalo::qt {

namespace {

bool usable(const VideoFrame& frame) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    const std::uint64_t width = frame.width();
    const std::uint64_t height = frame.height();
    const std::uint64_t stride = frame.bytesPerRow();
    return frame.isValid() && frame.data() != nullptr && width > 0 && height > 0 && width <= kMax &&
           height <= kMax && stride <= kMax && stride >= width * 4;
}

QImage wrap(const VideoFrame& frame) {
    // The image borrows the frame's pixels; the layer keeps the frame alive as long as it is drawn.
    return QImage(frame.data(), static_cast<int>(frame.width()), static_cast<int>(frame.height()),
                  static_cast<qsizetype>(frame.bytesPerRow()), QImage::Format_RGB32);
}

}  // namespace

void QtVideoLayer::enqueue(const VideoFrameRef& frame) {
    if (!frame) {
        return;
    }
    if (const auto* surface = dynamic_cast<const x11::SurfaceFrame*>(frame.get())) {
        // Asking for its pixels would read them from the server: check only what it says.
        if (!surface->isValid() || surface->width() == 0 || surface->height() == 0) {
            return;
        }
        image_ = QImage();
        frame_ = frame;
        surface_ = surface;
        changed();
        return;
    }
    if (!usable(*frame)) {
        return;
    }
    image_ = wrap(*frame);
    frame_ = frame;
    surface_ = nullptr;
    changed();
}

void QtVideoLayer::flushAndRemoveImage() {
    if (!frame_) {
        return;
    }
    image_ = QImage();
    frame_.reset();
    surface_ = nullptr;
    changed();
}

QRectF QtVideoLayer::imageRect(const QRectF& bounds) const {
    if (!frame_ || bounds.isEmpty()) {
        return QRectF();
    }
    const double imageWidth = frame_->width();
    const double imageHeight = frame_->height();
    const double scale = std::min(bounds.width() / imageWidth, bounds.height() / imageHeight);
    const double width = imageWidth * scale;
    const double height = imageHeight * scale;
    return QRectF(bounds.x() + (bounds.width() - width) / 2,
                  bounds.y() + (bounds.height() - height) / 2, width, height);
}

void QtVideoLayer::paint(QPainter& painter, const QRectF& bounds, double opacity) const {
    const QRectF target = imageRect(bounds);
    if (target.isEmpty() || opacity <= 0) {
        return;
    }
    if (image_.isNull() && surface_ && surface_->data()) {
        image_ = wrap(*surface_);
    }
    if (image_.isNull()) {
        return;
    }
    painter.save();
    painter.setOpacity(std::min(opacity, 1.0));
    // Smooth when shrinking; enlarged pixels stay sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.width() < image_.width());
    painter.drawImage(target, image_);
    painter.restore();
}

Subscription QtVideoLayer::observeChanges(std::function<void()> observer) {
    const std::uint64_t id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->observers_.erase(id);
        }
    });
}

void QtVideoLayer::changed() {
    // An observer may unsubscribe others (or itself) while being told.
    std::vector<std::uint64_t> ids;
    for (const auto& [id, observer] : observers_) {
        ids.push_back(id);
    }
    for (const auto id : ids) {
        auto it = observers_.find(id);
        if (it != observers_.end()) {
            auto observer = it->second;
            observer();
        }
    }
}

std::shared_ptr<VideoLayer> QtVideoLayerFactory::makeVideoLayer() {
    return std::make_shared<QtVideoLayer>();
}

}  // namespace tovalo::qt
