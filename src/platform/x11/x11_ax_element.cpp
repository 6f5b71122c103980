#include "platform/x11/x11_ax_element.h"

namespace tovalo::x11 {

std::shared_ptr<X11AXElement> X11AXElement::application(ProcessID pid) {
    return std::make_shared<X11AXElement>(Kind::application, pid, XCB_WINDOW_NONE);
}

std::shared_ptr<X11AXElement> X11AXElement::window(ProcessID pid, xcb_window_t window) {
    return std::make_shared<X11AXElement>(Kind::window, pid, window);
}

X11AXElement::X11AXElement(Kind kind, ProcessID pid, xcb_window_t window)
    : kind_(kind), pid_(pid), window_(window) {}

bool X11AXElement::isSameElement(const AXUIElement& other) const {
    const auto* element = dynamic_cast<const X11AXElement*>(&other);
    if (!element || element->kind_ != kind_) {
        return false;
    }
    return kind_ == Kind::application ? element->pid_ == pid_ : element->window_ == window_;
}

}  // namespace tovalo::x11
