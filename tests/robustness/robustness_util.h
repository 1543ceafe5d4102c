// Shared by the robustness tests: the built programs and test ROMs, SDL's
// dummy drivers, waiting on a running child or a file with a deadline, and
// running a program as an unprivileged user, so that file permissions mean
// something even when the tests run as root (root ignores them).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "process.h"

using namespace std::chrono_literals;

// The built test ROM `name` (without ".rom").
std::string test_rom(const std::string& name);
void copy_test_rom(const std::string& name, const std::string& to);

// Environment for the window and sound programs: SDL's dummy drivers.
ProcessOptions dummy_drivers();

// Polls until `done` holds or the time is up; returns whether it held.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Collects the child's output until it contains `text`, or the time is up.
bool wait_for_output(ChildProcess* child, const std::string& text, std::chrono::milliseconds timeout);

// The line lumacor prints once the frame loop runs.
inline const std::string LOOP_RUNNING = "Refresh time: 16 ms\n";

// The values of the "out[0x80] <- 0xNN" lines, in order.
std::vector<int> test_port_values(const std::string& out);

// The full path of a program found on PATH; empty when there is none.
std::string find_in_path(const std::string& name);

// A private X server (Xvfb) for tests that need a real window; `display` is
// empty when none could be started, with the reason in `error`.
struct XServer {
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ChildProcess process;
    std::string display; // ":N"
    std::string error;
};

// Runs lumacor so that file permissions apply: directly when the tests do
// not run as root, else through setpriv as the user nobody, from a copy in a
// temporary directory (the build tree may not be reachable for nobody).
// `reason` tells why that is impossible here when `available` is false.
struct Unprivileged {
    bool available = false;
    std::string reason;
    std::vector<std::string> lumacor; // the command, to which the ROM path is added
};
const Unprivileged& unprivileged();

// Makes a test's directory reachable for the unprivileged user.
void open_to_everyone(const std::string& directory);
