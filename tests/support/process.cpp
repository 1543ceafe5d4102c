#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

// Reads what the pipe holds now; closes it at its end.
void drain(int& fd, std::string& into) {
    char buffer[65536];
    ssize_t n;
    while (fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) return; // EAGAIN: nothing more for now
        into.append(buffer, static_cast<size_t>(n));
    }
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

bool Process_start(ChildProcess* child, const std::vector<std::string>& argv, const ProcessOptions& options) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        if (!options.env.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : env) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (rc != 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        return false;
    }
    fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
    child->pid = pid;
    child->out_fd = out_pipe[0];
    child->err_fd = err_pipe[0];
    return true;
}

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (int fd : {out_fd, err_fd})
        if (fd >= 0) ::close(fd);
}

void Process_poll_output(ChildProcess* child) {
    drain(child->out_fd, child->out);
    drain(child->err_fd, child->err);
}

void Process_signal(const ChildProcess* child, int signal) {
    if (child->pid > 0) ::kill(child->pid, signal);
}

ProcessResult Process_wait(ChildProcess* child, std::chrono::milliseconds timeout) {
    ProcessResult result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (child->out_fd >= 0 || child->err_fd >= 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            if (result.timed_out) break; // the pipes stay open after the kill: a grandchild holds them
            ::kill(child->pid, SIGKILL);
            result.timed_out = true;
            deadline = std::chrono::steady_clock::now() + 5s;
        }
        pollfd fds[2] = {{child->out_fd, POLLIN, 0}, {child->err_fd, POLLIN, 0}};
        poll(fds, 2, 100);
        Process_poll_output(child);
    }
    int status = 0;
    while (waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {}
    child->pid = -1;
    result.out = std::move(child->out);
    result.err = std::move(child->err);
    result.exited = WIFEXITED(status);
    result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

ProcessResult Process_run(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ChildProcess child;
    if (!Process_start(&child, argv, options))
        return ProcessResult{false, -1, 0, false, "", "could not start " + argv.at(0)};
    return Process_wait(&child, options.timeout);
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool wait_for_output(ChildProcess* child, const std::string& text) {
    return wait_until([&] {
        Process_poll_output(child);
        return child->out.find(text) != std::string::npos;
    });
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumacor-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::string s = read_file(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) {
    write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<int> test_port_values(const std::string& out) {
    std::vector<int> values;
    for (size_t at = out.find("out[0x80] <- 0x"); at != std::string::npos;
         at = out.find("out[0x80] <- 0x", at + 1))
        values.push_back(static_cast<int>(std::strtol(out.c_str() + at + 15, nullptr, 16)));
    return values;
}
