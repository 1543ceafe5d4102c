#include "robustness_util.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

std::string test_rom(const std::string& name) { return std::string(ROBUSTNESS_ROM_DIR) + "/" + name + ".rom"; }

void copy_test_rom(const std::string& name, const std::string& to) {
    fs::copy_file(test_rom(name), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
}

ProcessOptions dummy_drivers() {
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    return options;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool wait_for_output(ChildProcess* child, const std::string& text, std::chrono::milliseconds timeout) {
    return wait_until(
        [&] {
            Process_poll_output(child);
            return child->out.find(text) != std::string::npos;
        },
        timeout);
}

std::vector<int> test_port_values(const std::string& out) {
    std::vector<int> values;
    static const std::regex line(R"(out\[0x80\] <- 0x([0-9A-F]+))");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
        values.push_back(std::stoi((*it)[1].str(), nullptr, 16));
    return values;
}

std::string find_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string candidate = dir + "/" + name;
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

XServer::XServer() {
    std::string xvfb = find_in_path("Xvfb");
    if (xvfb.empty()) {
        error = "Xvfb is not installed";
        return;
    }
    // Xvfb picks a free display number and writes it to the given descriptor.
    if (!Process_start(&process, {xvfb, "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"})) {
        error = "Xvfb did not start";
        return;
    }
    if (!wait_for_output(&process, "\n", 30s)) {
        error = "Xvfb gave no display: " + process.err;
        return;
    }
    display = ":" + process.out.substr(0, process.out.find('\n'));
}

XServer::~XServer() {
    if (process.pid <= 0) return;
    Process_signal(&process, SIGTERM);
    Process_wait(&process, 10s);
}

namespace {

Unprivileged find_unprivileged() {
    Unprivileged runner;
    if (geteuid() != 0) {
        runner.available = true;
        runner.lumacor = {LUMACOR_BIN};
        return runner;
    }
    std::string setpriv = find_in_path("setpriv");
    const passwd* nobody = getpwnam("nobody");
    if (setpriv.empty() || !nobody) {
        runner.reason = "running as root, and there is no setpriv or no user nobody to drop to";
        return runner;
    }
    static TempDir bin;
    open_to_everyone(bin.path);
    std::string lumacor = bin.file("lumacor");
    std::error_code error;
    fs::copy_file(LUMACOR_BIN, lumacor, fs::copy_options::overwrite_existing, error);
    fs::permissions(lumacor, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec, error);
    runner.lumacor = {setpriv, "--reuid=" + std::to_string(nobody->pw_uid),
                      "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", lumacor};
    // With no argument lumacor exits with -1 at once.
    ProcessResult result = Process_run(runner.lumacor, dummy_drivers());
    if (!result.exited || result.exit_code != 255) {
        runner.reason = "lumacor cannot be started as the user nobody here: " + result.err;
        return runner;
    }
    runner.available = true;
    return runner;
}

} // namespace

const Unprivileged& unprivileged() {
    static const Unprivileged runner = find_unprivileged();
    return runner;
}

void open_to_everyone(const std::string& directory) {
    fs::permissions(directory, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
}
