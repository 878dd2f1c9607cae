// How long a Modbus frame is, told by its content: the function's layout
// and, where the layout has one, its byte count. The frame finder below the
// windows reads a line with these rules; no I/O and no state here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ModbusFrameRules {

// The largest RTU frame: station, 253 bytes of PDU, CRC.
constexpr size_t kLargestRtuFrame = 256;
// The largest ASCII frame: ':', 2 digits for each of 256 bytes but the CRC's
// 2 and the LRC's 1, CR LF.
constexpr size_t kLargestAsciiFrame = 513;
// Header bytes that are enough to know every layout's length but that of
// read device identification's reply, whose objects carry their own.
constexpr size_t kLongestHeader = 11;
// The most a station number is on a serial line; 0 is the broadcast.
constexpr uint8_t kLastStation = 247;

// What the first bytes of an RTU frame tell of its length.
struct RtuLengths {
    size_t need = 0;     // more bytes needed before both lengths are known (0: known)
    size_t request = 0;  // the length as a request, 0: it cannot be one (or not known yet)
    size_t reply = 0;    // the length as a normal reply or an exception, likewise
    // Each on its own: a reply's length may be known before a request's.
    size_t requestNeed = 0, replyNeed = 0;
    bool Known() const { return need == 0 && (request != 0 || reply != 0); }
};

// Whether an RTU frame may start with this station and function byte: a
// station up to 247 and a function with a known layout, or the exception
// of any function.
bool MayStartRtuFrame(uint8_t station, uint8_t function);

// `header`: the frame's first bytes, as many as have arrived (a reply of
// read device identification needs all of its objects' lengths). A station
// above 247 or a function without a known layout gives lengths of 0.
RtuLengths RtuFrameLengths(std::span<const uint8_t> header);

// The length of the normal reply to an RTU `request` (station, function,
// data, CRC), 0 when the function's reply length is not known from it.
size_t RtuReplyLength(std::span<const uint8_t> request);

// Whether `reply` may answer `request`, both RTU frames (or ASCII frames
// decoded, two bytes standing in for the check): the same station, the same
// function or its exception, the length the request asks for, and, where a
// reply repeats the request (5, 6, 8, 21, 22) or its address and quantity
// (15, 16), those bytes.
bool ReplyFits(std::span<const uint8_t> request, std::span<const uint8_t> reply);

// The functions whose normal reply is the request again, byte for byte.
bool ReplyRepeatsRequest(uint8_t function);

// True when the last two bytes of `frame` are the CRC16 of the rest.
bool RtuCheckGood(std::span<const uint8_t> frame);

// An ASCII frame ':' digits CR LF read into its bytes, LRC included;
// false when it is not one (no colon, no CR LF, an odd count of digits,
// anything but upper- or lower-case hexadecimal digits, under 3 bytes).
bool ReadAsciiFrame(std::span<const uint8_t> chars, std::vector<uint8_t>& bytes);
// True when the bytes of an ASCII frame, LRC last, sum to 0.
bool AsciiCheckGood(std::span<const uint8_t> bytes);

}  // namespace ModbusFrameRules
