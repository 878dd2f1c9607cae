// The simulator's command line, read into one record. A refused command line
// answers an error text for the user; the program then exits non-zero.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/Delivery.h"

struct SimOptions {
    int comNumber = 0;             // 0: the first number without a link
    std::vector<int> stations{1};  // the station numbers answered, 1 to 247
    int mapSize = 100;             // registers, coils and inputs of each kind
    int periodMs = 1000;           // how often the values change; 0: never
    int exceptionCode = 0;         // nonzero: every request gets this exception
    int delayMs = 0;               // wait before each reply
    bool brokenCheck = false;      // spoil the CRC or LRC of every reply
    bool silent = false;           // answer nothing
    Delivery delivery{};           // Write: each reply in one piece
    bool echo = false;             // an adapter that echoes what the master sends
    bool bus = false;              // play a master and its slaves instead
    bool rough = false;            // bus: the rougher cycle
    double turnaroundMs = 4.0;     // bus: from a request's last bit to its reply's first
    int intervalMs = 50;           // bus: from the end of an exchange to the next request
    int cycles = 0;                // bus: stop playing after this many cycles; 0: never
    std::string portDirectory;     // empty: ComNames::DefaultPortDirectory()
    bool help = false;
};

extern const char* const kSimUsage;

// The options, or nullopt with `error` set to a one-line message.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);
