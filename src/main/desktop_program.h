#pragma once

// The real program on an X11 desktop: builds every port from the X11 and Qt backends, the
// process-wide instances through the composition root, the control interface and the tray,
// then runs Qt's event loop until the user quits. A second launch asks the running instance
// to reopen and ends.

namespace tovalo {

// Returns the process exit code.
int runDesktopProgram(int argc, char** argv);

}  // namespace tovalo
