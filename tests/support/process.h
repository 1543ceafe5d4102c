// Running the project's built programs from tests: a child process with
// extra environment variables, its standard output and error captured, its
// exit status or terminating signal, and a time limit so a hung program
// fails the test instead of hanging the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    bool exited = false;   // ended by exit(); exit_code is valid
    int exit_code = -1;
    int signal = 0;        // the signal that ended it, if not exited
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::map<std::string, std::string> env; // added to (or replacing in) the test's environment
    std::string working_directory;          // empty: the test's own
    std::chrono::milliseconds timeout{60000};
};

// A running child whose output is collected until it ends.
struct ChildProcess {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    std::string out;
    std::string err;
};

// Starts argv[0] (a path) with the arguments; returns false if it could not start.
bool Process_start(ChildProcess* child, const std::vector<std::string>& argv,
                   const ProcessOptions& options = {});
// Reads what the child printed so far without blocking.
void Process_poll_output(ChildProcess* child);
// Waits for the child to end (killing it with SIGKILL after the timeout).
ProcessResult Process_wait(ChildProcess* child, std::chrono::milliseconds timeout);
// Sends a signal to a running child.
void Process_signal(const ChildProcess* child, int signal);

// Start and wait in one call.
ProcessResult Process_run(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
std::vector<unsigned char> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes);
