#include "platform/sim/sim_ax_element.h"

#include <memory>

namespace tovalo::sim {

std::shared_ptr<SimAXElement> SimAXElement::application(ProcessID pid) {
    return std::make_shared<SimAXElement>(Kind::application, pid, 0);
}

std::shared_ptr<SimAXElement> SimAXElement::window(ProcessID pid, WindowID windowID) {
    return std::make_shared<SimAXElement>(Kind::window, pid, windowID);
}

SimAXElement::SimAXElement(Kind kind, ProcessID pid, WindowID windowID)
    : kind_(kind), pid_(pid), windowID_(windowID) {}

bool SimAXElement::isSameElement(const AXUIElement& other) const {
    const auto* sim = dynamic_cast<const SimAXElement*>(&other);
    return sim && sim->kind_ == kind_ && sim->pid_ == pid_ && sim->windowID_ == windowID_;
}

}  // namespace tovalo::sim
