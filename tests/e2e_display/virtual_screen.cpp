#include "virtual_screen.h"

#include <poll.h>
#include <signal.h>

#include <chrono>

using namespace std::chrono_literals;

bool VirtualScreen_start(VirtualScreen* screen, std::string* error, const char* geometry) {
    if (std::string(XVFB_PATH).empty()) {
        *error = "Xvfb was not found when the tests were configured";
        return false;
    }
    // -displayfd 1: the server picks a free display and writes its number to
    // its standard output, which the test reads.
    if (!Process_start(&screen->server, {XVFB_PATH, "-displayfd", "1", "-screen", "0",
                                         geometry, "-nolisten", "tcp"})) {
        *error = "could not start Xvfb";
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (screen->server.out.find('\n') == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || screen->server.out_fd < 0) {
            Process_poll_output(&screen->server);
            *error = "Xvfb did not report a display: " + screen->server.err;
            VirtualScreen_stop(screen);
            return false;
        }
        pollfd fd{screen->server.out_fd, POLLIN, 0};
        poll(&fd, 1, 100);
        Process_poll_output(&screen->server);
    }
    std::string number = screen->server.out.substr(0, screen->server.out.find('\n'));
    screen->display = ":" + number;
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

std::vector<uint8_t> VirtualScreen_capture(const VirtualScreen* screen, int x, int y, int width,
                                           int height) {
    std::string area = std::to_string(width) + "x" + std::to_string(height) + "+" +
                       std::to_string(x) + "+" + std::to_string(y);
    // Raw rgb: output needs no image decoder on this side.
    ProcessResult shot = VirtualScreen_run(
        screen, {IMPORT_PATH, "-window", "root", "-crop", area, "-depth", "8", "rgb:-"});
    size_t expected = size_t(width) * size_t(height) * 3;
    if (!shot.exited || shot.exit_code != 0 || shot.out.size() != expected) return {};
    return std::vector<uint8_t>(shot.out.begin(), shot.out.end());
}
