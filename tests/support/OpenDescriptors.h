// The number of file descriptors the test process holds, for leak checks.
#pragma once

#include <cstddef>
#include <filesystem>
#include <iterator>

inline size_t OpenDescriptors() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}
