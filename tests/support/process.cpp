#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::vector<std::string> merged_environment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        if (extra.count(name) == 0) env.push_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    return env;
}

bool drain(int& fd, std::string& into) {
    if (fd < 0) return false;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            ::close(fd);
            fd = -1;
            return false;
        }
        return errno == EAGAIN || errno == EINTR;
    }
}

} // namespace

bool Process_start(ChildProcess* child, const std::vector<std::string>& argv,
                   const ProcessOptions& options) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    if (!options.working_directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env = merged_environment(options.env);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
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
    bool killed = false;
    while (child->out_fd >= 0 || child->err_fd >= 0) {
        pollfd fds[2] = {{child->out_fd, POLLIN, 0}, {child->err_fd, POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (killed) break;
            ::kill(child->pid, SIGKILL);
            result.timed_out = true;
            killed = true;
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            continue;
        }
        poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100)));
        Process_poll_output(child);
    }
    int status = 0;
    while (waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
    }
    child->pid = -1;
    result.out = std::move(child->out);
    result.err = std::move(child->err);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ProcessResult Process_run(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ChildProcess child;
    if (!Process_start(&child, argv, options)) {
        ProcessResult failed;
        failed.err = "could not start " + argv.at(0);
        return failed;
    }
    return Process_wait(&child, options.timeout);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumacor-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may take permissions away; give them back so everything goes.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> read_bytes(const std::string& path) {
    std::string s = read_file(path);
    return std::vector<unsigned char>(s.begin(), s.end());
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
