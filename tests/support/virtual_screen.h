// An X server of the test's own (Xvfb on a display number it picks itself,
// so tests can run side by side), and what the tests read from it: a
// screenshot of a window's place as RGB bytes, and what X tools say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "process.h"

struct VirtualScreen {
    ChildProcess server;
    std::string display; // ":N" once the server is up
};

// Starts the server and waits until it tells its display number; false (with
// the reason in `error`) when it cannot be started.
bool VirtualScreen_start(VirtualScreen* screen, std::string* error, const char* geometry = "1024x768x24");
void VirtualScreen_stop(VirtualScreen* screen);

// The screen area of `width` x `height` at (x, y), 3 bytes (red, green, blue)
// per pixel, rows top to bottom; empty when the screenshot failed.
std::vector<uint8_t> VirtualScreen_capture(const VirtualScreen* screen, int x, int y, int width, int height);

// The output of an X client tool run against the screen.
ProcessResult VirtualScreen_run(const VirtualScreen* screen, const std::vector<std::string>& argv);
