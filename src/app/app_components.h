#pragma once

// The parts of the program that the composition root cannot yet make from the platform ports
// alone: the shell's status item, shortcuts, main window, updater, pinning
// commands and main menu. The program (or a test)
// supplies them; each later subsystem moves its part into the root.

#include <memory>

#include "app/global_shortcuts.h"
#include "app/main_menu.h"
#include "app/main_window_controller.h"
#include "app/pinning_commands.h"
#include "app/status_item_controller.h"
#include "app/update_controller.h"
#include "capture/window_stream_controller_factory.h"
#include "pinning/overlay_content_factory.h"

namespace tovalo {

struct AppComponents {
    // Absent: the real live-capture engine, built from the ports. Tests may supply their own.
    std::shared_ptr<WindowStreamControllerFactory> streamControllerFactory;
    // Absent: the real overlay view, built from the ports.
    std::shared_ptr<OverlayContentFactory> overlayContentFactory;

    // Each may be absent; the application delegate then skips the steps that need it.
    std::shared_ptr<StatusItemController> statusItem;
    std::shared_ptr<GlobalShortcuts> shortcuts;
    std::shared_ptr<MainWindowController> mainWindow;
    std::shared_ptr<UpdateController> updates;
    std::shared_ptr<PinningCommands> pinningCommands;
    std::shared_ptr<MainMenu> mainMenu;
};

}  // namespace tovalo
