// A two-wire bus on ptys: master and slave hear each other at the line's speed, a listener
// gets every byte as serial hardware hands it over; each write is one frame of the log.
#pragma once

#include "PtyPair.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class HandOver {
    Write,  // each frame in one piece once its last bit has crossed
    Fifo,   // 8 bytes as the 8th arrives, the rest 4 characters after the last
    Usb,    // what has arrived, every 16 ms, at most 62 bytes a packet
};

struct BusFrame {
    bool fromMaster = false;
    std::vector<uint8_t> bytes;
    int64_t startUs = 0, endUs = 0;  // first bit, last stop bit; CLOCK_MONOTONIC
};

class TwoWireBus {
public:
    TwoWireBus(uint32_t baudRate, HandOver handOver);  // throws std::runtime_error
    ~TwoWireBus();
    TwoWireBus(const TwoWireBus&) = delete;
    TwoWireBus& operator=(const TwoWireBus&) = delete;

    const std::string& MasterPath() const { return master.SlavePath(); }
    const std::string& SlavePath() const { return slave.SlavePath(); }
    const std::string& ListenerPath() const { return listener.SlavePath(); }
    double CharacterUs() const { return characterUs; }

    std::vector<BusFrame> Log() const;
    size_t HandedOver() const;  // bytes of the log the listener's terminal has had

private:
    struct Delivery {
        int64_t dueUs;
        int fd;
        std::vector<uint8_t> bytes;
    };
    void Run();
    void Put(bool fromMaster, const uint8_t* bytes, size_t count, int64_t nowUs);
    // The listener's next piece: how many bytes from `done`, and when.
    size_t NextPiece(int64_t& dueUs) const;

    const double characterUs;
    const HandOver handOver;
    PtyPair master, slave, listener;
    int stopFd = -1;
    int64_t wireFreeUs = 0;
    std::vector<Delivery> peers;     // frames on their way to the other side
    std::vector<int64_t> arrivalUs;  // each byte's last stop bit, in log order
    std::vector<size_t> frameEnds;   // byte counts at each frame's end
    std::vector<uint8_t> wire;       // every byte, in log order
    size_t done = 0;                 // bytes handed to the listener
    int64_t usbTickUs = 0;
    mutable std::mutex lock;
    std::vector<BusFrame> log;
    size_t handed = 0;
    std::thread relay;
};
