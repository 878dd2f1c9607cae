// talvenor-sim, the built program, run as a child process: its first line
// tells the COM number it linked and the device behind it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class SimProcess {
public:
    // Starts the simulator with `args` and reads its first line; throws
    // std::runtime_error when that does not come within `timeout`.
    explicit SimProcess(const std::vector<std::string>& args,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~SimProcess();  // Interrupt()
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    int ComNumber() const { return comNumber; }
    const std::string& DevicePath() const { return devicePath; }

    // Ctrl-C: SIGINT, then waits for the exit (SIGKILL after a bound).
    // Answers the exit status, or -1 when it had to be killed. Safe twice.
    int Interrupt();

    static std::string ProgramPath();

private:
    pid_t child = -1;
    int outputFd = -1;
    int comNumber = 0;
    std::string devicePath;
    int exitStatus = -1;
};
