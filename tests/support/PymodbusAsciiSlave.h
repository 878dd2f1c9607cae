// The pymodbus ASCII slave (ascii_slave.py) serving SlaveMap on a device
// path, run as a child process. pymodbus is an independent implementation
// of the ASCII framing.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <string>

class PymodbusAsciiSlave {
public:
    // Starts the script on `devicePath` and waits for its ready line; throws
    // std::runtime_error when it does not get ready within `timeout`.
    explicit PymodbusAsciiSlave(const std::string& devicePath,
                                std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ~PymodbusAsciiSlave();  // stops
    PymodbusAsciiSlave(const PymodbusAsciiSlave&) = delete;
    PymodbusAsciiSlave& operator=(const PymodbusAsciiSlave&) = delete;

    // Ends the child: closes its input, which it answers by leaving, and kills
    // it when it has not left within a bound. Safe to call twice.
    void Stop();

    static std::string ScriptPath();
    static std::string PythonPath();

private:
    bool WaitForExit(std::chrono::milliseconds timeout);

    pid_t child = -1;
    int inputFd = -1;   // the child's standard input, write end
    int outputFd = -1;  // the child's standard output, read end
};
