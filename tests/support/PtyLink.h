// A null-modem cable between two device paths: two pty pairs whose master
// ends are joined by a relay thread. A serial port opens PathA(), a Modbus
// peer (which must open a path of its own) PathB().
#pragma once

#include "PtyPair.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyLink {
public:
    // recordFromB: keep every byte written at PathB() (what a peer there
    // sent), for FromB().
    explicit PtyLink(bool recordFromB = false);  // throws std::runtime_error
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& PathA() const { return a.SlavePath(); }
    const std::string& PathB() const { return b.SlavePath(); }

    // Every byte relayed from B to A so far, in order (empty unless recorded).
    std::vector<uint8_t> FromB() const;

private:
    void Relay();

    PtyPair a;
    PtyPair b;
    bool recordFromB;
    mutable std::mutex recordLock;
    std::vector<uint8_t> fromB;
    int stopFd = -1;
    std::thread relay;
};
