// The serial engine on the system's comm layer, with pseudo-terminals linked
// as COM ports in a private port directory; the test plays the far end of
// the wire on the pty masters.
#pragma once

#include "SerialPortTestOwner.h"

#include "serial/ComNames.h"
#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

// The system's comm layer, remembering the device it opened last so that a
// test can look at the device's input queue.
class ObservedComm : public PosixComm {
public:
    using PosixComm::PosixComm;
    CommHandle OpenDevice(const std::string& name) override {
        const CommHandle device = PosixComm::OpenDevice(name);
        lastDevice.store(device);
        return device;
    }
    uint32_t InputQueued() {
        CommStatus status;
        return ClearCommError(lastDevice.load(), status) ? status.inQueue : 0;
    }

private:
    std::atomic<CommHandle> lastDevice{kNoDevice};
};

class PrivatePortDirectory {
public:
    PrivatePortDirectory() {
        char pattern[] = "/tmp/talvenor-engine-XXXXXX";
        const char* made = mkdtemp(pattern);
        root = made ? made : "";
        std::filesystem::create_directory(root + "/ports");
        std::filesystem::permissions(root + "/ports", std::filesystem::perms::owner_all);
        std::filesystem::create_directory(root + "/dev");
    }
    ~PrivatePortDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    PrivatePortDirectory(const PrivatePortDirectory&) = delete;
    PrivatePortDirectory& operator=(const PrivatePortDirectory&) = delete;

    void Link(int number, const std::string& target) const {
        const std::string link = root + "/ports/COM" + std::to_string(number);
        std::error_code ignored;
        std::filesystem::remove(link, ignored);
        std::filesystem::create_symlink(target, link);
    }

    // A comm layer that sees only this directory's ports.
    std::unique_ptr<ObservedComm> Comm() const {
        return std::make_unique<ObservedComm>(
            ComNames({root + "/ports", root + "/dev", root + "/sys"}));
    }

private:
    std::string root;
};
