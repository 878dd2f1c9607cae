// How a reply reaches the reading program on real hardware: not in the one
// piece a pseudo-terminal hands over, but in the pieces a UART's receive
// FIFO or a USB adapter's latency timer makes of it, at their times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class Delivery {
    Write,  // the whole reply in one write, as a pty passes it on
    Fifo,   // a 16550A with Linux's default receive trigger of 8 bytes
    Usb,    // a USB adapter: a packet once 62 bytes have gathered, the rest at
            // each tick of its 16 ms latency timer
};

struct DeliveryPiece {
    int64_t offsetMicros;  // from the moment the reply's first bit goes on the wire
    size_t byteCount;
};

// The pieces a reply of `length` bytes reaches the reader in, in order.
std::vector<DeliveryPiece> DeliveryPlan(Delivery kind, size_t length, double characterMicros);

// A frame on a stretch of wire: when its first bit goes out, and its size.
struct WireFrame {
    int64_t startMicros;
    size_t length;
};

// The pieces a stretch of frames, in order and back to back in one buffer,
// reaches the reader in, with times from the stretch's start. Unlike
// DeliveryPlan, no byte is handed over before its stop bit has ended: Write
// hands each frame over at its last bit; Fifo and Usb run their trigger,
// timeout and latency timer over the whole stretch, across frames.
std::vector<DeliveryPiece> StretchDeliveryPlan(Delivery kind, const std::vector<WireFrame>& frames,
                                               double characterMicros);

// One character's time on a line of these termios control flags; a speed of
// 0 counts as 9600.
double CharacterMicros(unsigned cflag, uint32_t baudRate);
