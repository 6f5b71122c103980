#include "platform/qt/qt_panel.h"

#include <QString>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/qt/qt_panel_content_binding.h"
#include "platform/qt/qt_panel_widget.h"
#include "platform/qt/qt_screen_geometry.h"
#include "platform/qt/qt_video_layer.h"

namespace tovalo::qt {

namespace {

std::uint64_t nextOrderStamp() {
    static std::uint64_t stamp = 0;  // main thread only
    return ++stamp;
}

Qt::WindowFlags flagsFor(const WindowCreationOptions& options) {
    if (options.isPanel) {
        // Override-redirect: no frame, no focus, reliably above and click-through.
        return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
               Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus;
    }
    if ((options.styleMask & WindowStyle::titled) == 0) {
        return Qt::Window | Qt::FramelessWindowHint;
    }
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (options.styleMask & WindowStyle::closable) {
        flags |= Qt::WindowCloseButtonHint;
    }
    if (options.styleMask & WindowStyle::miniaturizable) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (options.styleMask & WindowStyle::resizable) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

double ease(AnimationCurve curve, double t) {
    switch (curve) {
        case AnimationCurve::linear:
            return t;
        case AnimationCurve::easeIn:
            return t * t;
        case AnimationCurve::easeOut:
            return 1 - (1 - t) * (1 - t);
        case AnimationCurve::easeInOut:
            return t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
    }
    return t;
}

// One running animation; steps itself on the main queue until its duration has passed.
struct AnimationRun : std::enable_shared_from_this<AnimationRun> {
    std::shared_ptr<DispatchRuntime> runtime;
    std::shared_ptr<std::optional<double>> presented;
    double from = 0;
    AnimationRequest request;
    TimePoint start;
    std::function<void(double)> apply;
    std::function<void()> completion;

    void schedule(Duration delay) {
        runtime->mainQueue()->asyncAfter(delay, [self = shared_from_this()] { self->step(); });
    }

    void step() {
        const Duration elapsed = runtime->now() - start;
        const bool done = request.duration <= Duration::zero() || elapsed >= request.duration;
        const double t =
            done ? 1.0 : std::clamp(toSeconds(elapsed) / toSeconds(request.duration), 0.0, 1.0);
        const double value = done ? request.targetValue
                                  : from + (request.targetValue - from) * ease(request.curve, t);
        *presented = value;
        if (apply) {
            apply(value);
        }
        if (done) {
            if (completion) {
                completion();
            }
            return;
        }
        schedule(std::min(QtPanel::kAnimationFrameInterval, request.duration - elapsed));
    }
};

}  // namespace

std::shared_ptr<QtPanel> QtPanel::make(const WindowCreationOptions& options,
                                       std::shared_ptr<DispatchRuntime> runtime) {
    return std::shared_ptr<QtPanel>(new QtPanel(options, std::move(runtime)));
}

QtPanel::QtPanel(const WindowCreationOptions& options, std::shared_ptr<DispatchRuntime> runtime)
    : runtime_(std::move(runtime)), isPanel_(options.isPanel), title_(options.title) {
    widget_ = new QtPanelWidget(flagsFor(options));
    if (isPanel_) {
        widget_->setAttribute(Qt::WA_ShowWithoutActivating);
        widget_->setAttribute(Qt::WA_TranslucentBackground);
    }
    widget_->setWindowTitle(QString::fromStdString(title_));
    widget_->setGeometry(QtScreenGeometry::toQt(options.contentRect));
    // The native window exists from now on: its number is stable and its flags can be changed
    // while it is mapped.
    windowNumber_ = static_cast<std::uint32_t>(widget_->winId());
    widget_->setCloseRequestHandler([this] {
        // Inside the widget's own event handler: it may only be deleted later.
        if (!closing_ && !closed_) {
            auto keep = shared_from_this();
            closeFromWidget_ = true;
            close();
            closeFromWidget_ = false;
        }
    });
}

QtPanel::~QtPanel() {
    destroyWidget(false);
}

void QtPanel::destroyWidget(bool deferred) {
    if (!widget_) {
        return;
    }
    QtPanelWidget* widget = std::exchange(widget_, nullptr);
    widget->setCloseRequestHandler(nullptr);
    widget->hide();
    if (deferred) {
        widget->deleteLater();
    } else {
        delete widget;
    }
}

Rect QtPanel::frame() const {
    return widget_ ? QtScreenGeometry::fromQt(widget_->geometry()) : closedFrame_;
}

void QtPanel::setFrame(const Rect& frame, bool display) {
    if (closed_ || !widget_) {
        return;
    }
    widget_->setGeometry(QtScreenGeometry::toQt(frame));
    if (display) {
        widget_->update();
    }
}

void QtPanel::setLevel(WindowLevel level) {
    if (closed_ || !widget_) {
        return;
    }
    level_ = level;
    // Panels sit above the managed clients whatever their level; a managed window asks the
    // window manager to keep it above, on the mapped window without remapping.
    if (!isPanel_) {
        if (QWindow* window = widget_->windowHandle()) {
            window->setFlag(Qt::WindowStaysOnTopHint, level > WindowLevel::normal);
        }
    }
}

void QtPanel::setTitle(const std::string& title) {
    if (closed_ || !widget_) {
        return;
    }
    title_ = title;
    widget_->setWindowTitle(QString::fromStdString(title));
}

void QtPanel::setAlphaValue(double alpha) {
    if (closed_ || !widget_ || std::isnan(alpha)) {
        return;
    }
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    widget_->setWindowOpacity(alpha_);
}

void QtPanel::setIgnoresMouseEvents(bool ignores) {
    if (closed_ || !widget_) {
        return;
    }
    ignoresMouse_ = ignores;
    // On the native window while it stays mapped: the widget-level flag would recreate and
    // remap it, and a remapped managed window keeps a frame that swallows the clicks.
    if (QWindow* window = widget_->windowHandle()) {
        window->setFlag(Qt::WindowTransparentForInput, ignores);
    }
}

bool QtPanel::isVisible() const {
    return widget_ && !closed_ && widget_->isVisible();
}

bool QtPanel::isKeyWindow() const {
    return isVisible() && widget_->isActiveWindow();
}

void QtPanel::show(bool makeKey) {
    if (closed_ || !widget_) {
        return;
    }
    orderStamp_ = nextOrderStamp();
    widget_->show();
    widget_->raise();
    if (makeKey && !isPanel_) {
        widget_->activateWindow();
    }
}

void QtPanel::orderFront() {
    show(false);
}

void QtPanel::orderFrontRegardless() {
    show(false);
}

void QtPanel::makeKeyAndOrderFront() {
    show(true);
}

void QtPanel::orderOut() {
    if (closed_ || !widget_) {
        return;
    }
    widget_->hide();
}

void QtPanel::close() {
    if (closing_ || closed_) {
        return;
    }
    closing_ = true;
    auto keep = shared_from_this();
    std::vector<std::uint64_t> ids;
    for (const auto& [id, observer] : willCloseObservers_) {
        ids.push_back(id);
    }
    // Each runs unless an earlier one removed it.
    for (const auto id : ids) {
        auto it = willCloseObservers_.find(id);
        if (it != willCloseObservers_.end()) {
            auto observer = it->second;
            observer();
        }
    }
    closed_ = true;
    willCloseObservers_.clear();
    closedFrame_ = frame();
    destroyWidget(closeFromWidget_);
    if (std::exchange(contentShown_, false) && content_) {
        auto content = content_;
        content->contentDidDisappear();
    }
}

void QtPanel::setContent(std::shared_ptr<WindowContent> content) {
    if (content == content_) {
        return;
    }
    std::shared_ptr<WindowContent> disappearing = contentShown_ ? content_ : nullptr;
    content_ = content;
    contentShown_ = content && !closed_;
    contentBinding_ = bindPanelContent(*this, content);
    if (disappearing) {
        disappearing->contentDidDisappear();
    }
    if (contentShown_) {
        content->contentDidAppear(shared_from_this());
    }
}

Subscription QtPanel::observeWillClose(std::function<void()> observer) {
    if (closed_) {
        return Subscription();
    }
    const std::uint64_t id = nextObserverID_++;
    willCloseObservers_.emplace(id, std::move(observer));
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->willCloseObservers_.erase(id);
        }
    });
}

void QtPanel::animate(const AnimationRequest& request, std::function<void(double)> apply,
                      std::function<void()> completion) {
    auto run = std::make_shared<AnimationRun>();
    run->runtime = runtime_;
    run->presented = presentedValue_;
    run->from = presentedValue_->value_or(request.targetValue);
    run->request = request;
    run->start = runtime_->now();
    run->apply = std::move(apply);
    run->completion = std::move(completion);
    const Duration duration = std::max(request.duration, Duration::zero());
    // Nothing to step through: only the final value, once the duration has passed.
    run->schedule(run->from == request.targetValue ? duration
                                                   : std::min(kAnimationFrameInterval, duration));
}

void QtPanel::setVideoLayer(std::shared_ptr<QtVideoLayer> layer) {
    if (widget_) {
        widget_->setVideoLayer(std::move(layer));
    }
}

void QtPanel::setVideoOpacity(double opacity) {
    if (widget_) {
        widget_->setVideoOpacity(opacity);
    }
}

void QtPanel::setPointerHandlers(std::function<void(bool)> hover, std::function<void()> press) {
    if (widget_) {
        widget_->setPointerHandlers(std::move(hover), std::move(press));
    }
}

}  // namespace tovalo::qt
