#include "serial/LineCounters.h"

#include "serial/CommLayer.h"

namespace {

struct CounterRow {
    uint32_t LineCounters::*counter;
    uint32_t event;
    uint32_t error;
};

// A counter that moved stands for its event and its status error. The
// counters wrap; only a difference counts, never a comparison.
constexpr CounterRow kRows[] = {
    {&LineCounters::cts, EV_CTS, 0},
    {&LineCounters::dsr, EV_DSR, 0},
    {&LineCounters::dcd, EV_RLSD, 0},
    {&LineCounters::rng, EV_RING, 0},
    {&LineCounters::brk, EV_BREAK, CE_BREAK},
    {&LineCounters::frame, EV_ERR, CE_FRAME},
    {&LineCounters::overrun, EV_ERR, CE_OVERRUN},
    {&LineCounters::parity, EV_ERR, CE_RXPARITY},
    {&LineCounters::bufOverrun, EV_ERR, CE_RXOVER},
};

}  // namespace

uint32_t LineCounters::EventsBetween(const LineCounters& before, const LineCounters& after,
                                     uint32_t mask) {
    uint32_t events = 0;
    for (const CounterRow& row : kRows)
        if (before.*row.counter != after.*row.counter) events |= row.event;
    return events & mask;
}

uint32_t LineCounters::ErrorsBetween(const LineCounters& before, const LineCounters& after) {
    uint32_t errors = 0;
    for (const CounterRow& row : kRows)
        if (before.*row.counter != after.*row.counter) errors |= row.error;
    return errors;
}

LineCounters LineCounters::Between(const LineCounters& before, const LineCounters& after) {
    LineCounters difference;
    for (const CounterRow& row : kRows)
        difference.*row.counter = after.*row.counter - before.*row.counter;
    return difference;
}
