// The `tovalo` executable: `tovalo` runs the program on the X11 desktop; `tovalo ctl ...`
// controls a running instance over the session bus.

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "main/desktop_program.h"
#include "platform/qt/ctl_client.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) {
        std::vector<std::string> args(argv + 2, argv + argc);
        return tovalo::qt::runCtl(args, std::cout, std::cerr);
    }
    return tovalo::runDesktopProgram(argc, argv);
}
