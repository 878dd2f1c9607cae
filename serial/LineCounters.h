// The line event counters a serial driver keeps (TIOCGICOUNT), and the comm
// events and line errors that a change of them stands for. Pure, so that the
// decision is testable without a UART (a pty has no counters).
#pragma once

#include <cstdint>

// Line error bits of the status query, with the platform's values.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

struct LineCounters {
    uint32_t cts = 0;
    uint32_t dsr = 0;
    uint32_t rng = 0;
    uint32_t dcd = 0;
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t bufOverrun = 0;

    // The comm events between two readings, limited to `mask`.
    static uint32_t EventsBetween(const LineCounters& before, const LineCounters& after,
                                  uint32_t mask);
    // The counts from `before` to `after`, each one's difference.
    static LineCounters Between(const LineCounters& before, const LineCounters& after);
    // The CE_ error bits between two readings.
    static uint32_t ErrorsBetween(const LineCounters& before, const LineCounters& after);
};
