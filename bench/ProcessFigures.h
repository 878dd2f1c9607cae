// What the benchmark programs read about their own process: CPU time from
// getrusage, memory from /proc/self/status.
#pragma once

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

// User plus system CPU seconds of the process (RUSAGE_SELF) or the calling
// thread (RUSAGE_THREAD).
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A "Vm...:" line of /proc/self/status in KiB, or -1.
inline long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(key) + ":";
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    return -1;
}

inline long ResidentKiB() { return StatusKiB("VmRSS"); }
// The peak resident memory; ResetPeak starts a new peak from what is
// resident now.
inline long PeakKiB() { return StatusKiB("VmHWM"); }
inline void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
