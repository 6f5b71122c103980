#pragma once

// Connects a panel's content to what the panel draws and hears: an overlay view's live picture
// and presented opacity go to the panel's video view, the pointer entering, leaving and pressing
// the panel go back to the view. Contents the backend does not know bind nothing. The binding
// ends when the returned subscription is dropped (the panel gets other content or closes).

#include <memory>

#include "base/subscription.h"
#include "platform/platform_window.h"

namespace tovalo::qt {

class QtPanel;

[[nodiscard]] Subscription bindPanelContent(QtPanel& panel,
                                            const std::shared_ptr<WindowContent>& content);

}  // namespace tovalo::qt
