// A null-modem cable between two device paths: two pty pairs whose master
// ends are joined by a relay thread. A serial port opens PathA(), a Modbus
// peer (which must open a path of its own) PathB().
#pragma once

#include "PtyPair.h"

#include <string>
#include <thread>

class PtyLink {
public:
    PtyLink();  // throws std::runtime_error
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& PathA() const { return a.SlavePath(); }
    const std::string& PathB() const { return b.SlavePath(); }

private:
    void Relay();

    PtyPair a;
    PtyPair b;
    int stopFd = -1;
    std::thread relay;
};
