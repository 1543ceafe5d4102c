// Running the built programs from tests: a child with extra environment
// variables, its output captured, its exit status or signal, and a time limit
// so that a hung program fails its test instead of hanging the suite. Also a
// temporary directory per test, and whole-file reads and writes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;

struct ProcessResult {
    bool exited = false; // ended by exit(); exit_code is valid
    int exit_code = -1;
    int signal = 0; // the signal that ended it, if not exited
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::map<std::string, std::string> env; // added to (or replacing in) the test's environment
    std::chrono::milliseconds timeout{60000};
};

// A running child whose output is collected until it ends. One still running
// when its record goes (a test that stopped early) is killed.
struct ChildProcess {
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    std::string out;
    std::string err;
};

// Starts argv[0] (a path); false if it could not start.
bool Process_start(ChildProcess* child, const std::vector<std::string>& argv,
                   const ProcessOptions& options = {});
// Reads what the child printed so far without blocking.
void Process_poll_output(ChildProcess* child);
void Process_signal(const ChildProcess* child, int signal);
// Waits for the child to end, killing it with SIGKILL after the timeout.
ProcessResult Process_wait(ChildProcess* child, std::chrono::milliseconds timeout);
ProcessResult Process_run(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Polls until `done` holds (true) or the time is up (false).
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s);
// Collects the child's output until it holds `text`.
bool wait_for_output(ChildProcess* child, const std::string& text);

// A fresh directory, removed with everything in it when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
std::vector<uint8_t> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
void write_text(const std::string& path, const std::string& text);
// The values a program sent to the test port, from the machine's log lines.
std::vector<int> test_port_values(const std::string& out);
