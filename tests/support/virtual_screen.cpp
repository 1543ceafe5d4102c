#include "virtual_screen.h"

#include <signal.h>

bool VirtualScreen_start(VirtualScreen* screen, std::string* error, const char* geometry) {
    // -displayfd 1: the server picks a free display and writes its number to
    // its standard output.
    if (!Process_start(&screen->server,
                       {XVFB_PATH, "-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp"})) {
        *error = "Xvfb could not be started from '" XVFB_PATH "' (scripts/deps.sh installs it)";
        return false;
    }
    if (!wait_for_output(&screen->server, "\n")) {
        *error = "Xvfb did not report a display: " + screen->server.err;
        VirtualScreen_stop(screen);
        return false;
    }
    screen->display = ":" + screen->server.out.substr(0, screen->server.out.find('\n'));
    return true;
}

void VirtualScreen_stop(VirtualScreen* screen) {
    if (screen->server.pid <= 0) return;
    Process_signal(&screen->server, SIGTERM);
    Process_wait(&screen->server, 10s);
}

ProcessResult VirtualScreen_run(const VirtualScreen* screen, const std::vector<std::string>& argv) {
    ProcessOptions options;
    options.env = {{"DISPLAY", screen->display}};
    options.timeout = 20s;
    return Process_run(argv, options);
}

std::vector<uint8_t> VirtualScreen_capture(const VirtualScreen* screen, int x, int y, int width, int height) {
    std::string area = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                       std::to_string(y);
    // Raw RGB: no image decoder needed on this side.
    ProcessResult shot =
        VirtualScreen_run(screen, {IMPORT_PATH, "-window", "root", "-crop", area, "-depth", "8", "rgb:-"});
    if (shot.exit_code != 0 || shot.out.size() != size_t(width) * size_t(height) * 3) return {};
    return std::vector<uint8_t>(shot.out.begin(), shot.out.end());
}
