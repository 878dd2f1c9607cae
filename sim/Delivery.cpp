#include "sim/Delivery.h"

#include <termios.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kFifoTrigger = 8;
constexpr double kFifoTimeoutCharacters = 4;
constexpr double kLatencyMicros = 16000;
constexpr size_t kUsbPacketBytes = 62;  // 64 less the two modem status bytes

int64_t Micros(double at) { return std::llround(at); }

}  // namespace

std::vector<DeliveryPiece> DeliveryPlan(Delivery kind, size_t length, double characterMicros) {
    // One frame from now: at once in one write, or as the hardware hands
    // its bytes over once they have arrived.
    if (length == 0) return {};
    if (kind == Delivery::Write) return {{0, length}};
    return StretchDeliveryPlan(kind, {{0, length}}, characterMicros);
}

double CharacterMicros(unsigned cflag, uint32_t baudRate) {
    int dataBits = 8;
    switch (cflag & CSIZE) {
        case CS5:
            dataBits = 5;
            break;
        case CS6:
            dataBits = 6;
            break;
        case CS7:
            dataBits = 7;
            break;
        default:
            break;
    }
    const int bits = 1 + dataBits + ((cflag & PARENB) ? 1 : 0) + ((cflag & CSTOPB) ? 2 : 1);
    return bits * 1e6 / (baudRate ? baudRate : 9600);
}

std::vector<DeliveryPiece> StretchDeliveryPlan(Delivery kind, const std::vector<WireFrame>& frames,
                                               double characterMicros) {
    // When each byte's stop bit ends.
    std::vector<double> ends;
    for (const WireFrame& frame : frames)
        for (size_t k = 1; k <= frame.length; ++k)
            ends.push_back(static_cast<double>(frame.startMicros) + k * characterMicros);
    std::vector<DeliveryPiece> pieces;
    switch (kind) {
        case Delivery::Write:
            for (const WireFrame& frame : frames)
                if (frame.length > 0)
                    pieces.push_back(
                        {static_cast<int64_t>(std::ceil(static_cast<double>(frame.startMicros) +
                                                        frame.length * characterMicros)),
                         frame.length});
            break;
        case Delivery::Fifo: {
            // The trigger level hands 8 over at once; the timeout what is left
            // once 4 character times pass without a new byte.
            size_t held = 0;
            for (size_t i = 0; i < ends.size(); ++i) {
                if (++held == kFifoTrigger) {
                    pieces.push_back({static_cast<int64_t>(std::ceil(ends[i])), held});
                    held = 0;
                    continue;
                }
                const double timeout = ends[i] + kFifoTimeoutCharacters * characterMicros;
                if (i + 1 == ends.size() || ends[i + 1] > timeout) {
                    pieces.push_back({static_cast<int64_t>(std::ceil(timeout)), held});
                    held = 0;
                }
            }
            break;
        }
        case Delivery::Usb: {
            // A packet goes up as soon as 62 bytes have gathered; the latency
            // timer sends what is left, if anything, at each tick.
            size_t done = 0;
            int64_t tick = 1;
            auto flush = [&](size_t upTo, int64_t at) {
                if (upTo > done) pieces.push_back({at, upTo - done});
                done = upTo;
            };
            for (size_t i = 0; i < ends.size(); ++i) {
                for (; tick * kLatencyMicros < ends[i] - 1e-6; ++tick)
                    flush(i, Micros(tick * kLatencyMicros));
                if (i + 1 - done == kUsbPacketBytes)
                    flush(i + 1, static_cast<int64_t>(std::ceil(ends[i])));
            }
            if (done < ends.size()) {
                while (tick * kLatencyMicros < ends.back() - 1e-6) ++tick;
                flush(ends.size(), Micros(tick * kLatencyMicros));
            }
            break;
        }
    }
    return pieces;
}
