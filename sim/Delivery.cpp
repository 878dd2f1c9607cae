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
            size_t done = 0, arrived = 0;
            for (int64_t tick = 1; done < ends.size(); ++tick) {
                const double at = tick * kLatencyMicros;
                while (arrived < ends.size() && ends[arrived] <= at + 1e-6) ++arrived;
                const size_t count = std::min(arrived - done, kUsbPacketBytes);
                if (count == 0) continue;
                pieces.push_back({Micros(at), count});
                done += count;
            }
            break;
        }
    }
    return pieces;
}
