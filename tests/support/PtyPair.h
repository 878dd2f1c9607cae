// A pseudo-terminal pair in raw mode: the slave end has a path that a serial
// port or a Modbus peer can open, the master end is the test's side of the
// wire. Both ends stay open until destruction, so either side may close and
// reopen its own descriptor without the other seeing a hang-up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair();  // throws std::runtime_error when no pty can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return masterFd; }
    int SlaveFd() const { return slaveFd; }
    const std::string& SlavePath() const { return slavePath; }

    // Writes every byte to the master end (retrying short writes and EINTR).
    bool WriteMaster(const std::vector<uint8_t>& bytes) const;
    bool WriteMaster(const std::string& chars) const;

    // Reads from the master end until `count` bytes have come or `timeout`
    // has passed; answers what arrived (possibly fewer bytes).
    std::vector<uint8_t> ReadMaster(size_t count, std::chrono::milliseconds timeout) const;

    // Reads from the master end until `done` holds for the bytes so far or
    // `timeout` has passed.
    std::vector<uint8_t> ReadMasterUntil(
        const std::function<bool(const std::vector<uint8_t>&)>& done,
        std::chrono::milliseconds timeout) const;

    // Discards whatever is waiting on the master end.
    void DrainMaster() const;

    // Closes the master end: whoever has the slave open sees the line hang
    // up, as when an adapter is pulled. The slave end stays open.
    void CloseMaster();

    // The same operations on any descriptor.
    static bool WriteAll(int fd, const uint8_t* bytes, size_t count);
    static std::vector<uint8_t> ReadUntil(
        int fd, const std::function<bool(const std::vector<uint8_t>&)>& done,
        std::chrono::milliseconds timeout);

private:
    int masterFd = -1;
    int slaveFd = -1;
    std::string slavePath;
};
