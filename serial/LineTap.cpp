#include "serial/LineTap.h"

#include <time.h>

namespace {

int64_t Micros(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

LineStamp LineStamp::Now() { return {Micros(CLOCK_REALTIME), Micros(CLOCK_MONOTONIC)}; }
