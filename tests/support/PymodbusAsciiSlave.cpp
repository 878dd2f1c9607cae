#include "PymodbusAsciiSlave.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;

std::string PymodbusAsciiSlave::ScriptPath() {
    return std::string(TALVENOR_SOURCE_DIR) + "/tests/support/ascii_slave.py";
}

std::string PymodbusAsciiSlave::PythonPath() { return TALVENOR_PYTHON; }

PymodbusAsciiSlave::PymodbusAsciiSlave(const std::string& devicePath,
                                       std::chrono::milliseconds timeout) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    // posix_spawn rather than fork: the test process may have threads running.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string python = PythonPath();
    std::string script = ScriptPath();
    char* argv[] = {python.data(), script.data(), const_cast<char*>(devicePath.c_str()), nullptr};
    int rc = posix_spawn(&child, python.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    inputFd = in[1];
    outputFd = out[0];
    if (rc != 0) {
        child = -1;
        Stop();
        throw std::runtime_error("cannot start " + python + ": " + std::strerror(rc));
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::string line;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{outputFd, POLLIN, 0};
        int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count()) + 1) : 0;
        if (r < 0 && errno == EINTR) continue;
        char chunk[256];
        ssize_t n = r > 0 ? read(outputFd, chunk, sizeof chunk) : 0;
        if (n <= 0) {
            Stop();
            throw std::runtime_error("the pymodbus ASCII slave on " + devicePath +
                                     " did not get ready");
        }
        line.append(chunk, static_cast<size_t>(n));
    }
    if (line.rfind("ready", 0) != 0) {
        Stop();
        throw std::runtime_error("the pymodbus ASCII slave said: " + line);
    }
}

PymodbusAsciiSlave::~PymodbusAsciiSlave() { Stop(); }

bool PymodbusAsciiSlave::WaitForExit(std::chrono::milliseconds timeout) {
    // Wait on the output pipe: it reaches end-of-file when the child has gone.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    char chunk[256];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{outputFd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        ssize_t n = read(outputFd, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR)) return true;
    }
}

void PymodbusAsciiSlave::Stop() {
    if (inputFd >= 0) {
        close(inputFd);
        inputFd = -1;
    }
    if (child > 0) {
        if (outputFd < 0 || !WaitForExit(std::chrono::seconds(5))) kill(child, SIGKILL);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        child = -1;
    }
    if (outputFd >= 0) {
        close(outputFd);
        outputFd = -1;
    }
}
