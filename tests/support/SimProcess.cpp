#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

// Reads until end-of-file or the deadline; false at the deadline.
bool DrainUntilExit(int fd, std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    char chunk[256];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR)) return true;
    }
}

}  // namespace

std::string SimProcess::ProgramPath() { return TALVENOR_SIM_PATH; }

SimProcess::SimProcess(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    // posix_spawn rather than fork: the test process may have threads running.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string program = ProgramPath();
    std::vector<std::string> words = args;
    std::vector<char*> argv{program.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    outputFd = out[0];
    if (rc != 0) {
        child = -1;
        Interrupt();
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{outputFd, POLLIN, 0};
        const int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count()) + 1) : 0;
        if (r < 0 && errno == EINTR) continue;
        char chunk[256];
        const ssize_t n = r > 0 ? read(outputFd, chunk, sizeof chunk) : 0;
        if (n <= 0) break;
        line.append(chunk, static_cast<size_t>(n));
    }
    char path[128] = {};
    if (std::sscanf(line.c_str(), "COM%d %127s", &comNumber, path) != 2) {
        Interrupt();
        throw std::runtime_error("talvenor-sim did not name its port: " + line);
    }
    devicePath = path;
}

SimProcess::~SimProcess() { Interrupt(); }

int SimProcess::Interrupt() {
    if (child > 0) {
        kill(child, SIGINT);
        if (outputFd < 0 ||
            !DrainUntilExit(outputFd, std::chrono::steady_clock::now() + std::chrono::seconds(10)))
            kill(child, SIGKILL);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        child = -1;
    }
    if (outputFd >= 0) {
        close(outputFd);
        outputFd = -1;
    }
    return exitStatus;
}
