#include "sim/BusScript.h"

#include <cmath>
#include <initializer_list>
#include <string_view>

#include "sim/SlaveSimulator.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Station, function and data, then the CRC, low byte first.
Bytes Frame(Bytes adu) {
    const uint16_t crc = SimCrc16(adu.data(), adu.size());
    adu.push_back(static_cast<uint8_t>(crc));
    adu.push_back(static_cast<uint8_t>(crc >> 8));
    return adu;
}

void Word(Bytes& bytes, unsigned value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

// Registers `first`, `first + 1`, ... counting up from `value`.
void Registers(Bytes& bytes, unsigned count, unsigned value) {
    for (unsigned i = 0; i < count; ++i) Word(bytes, value + i);
}

// `count` bits alternating from 1, packed low bit first.
void Bits(Bytes& bytes, unsigned count) {
    for (unsigned i = 0; i < count; i += 8) {
        uint8_t byte = 0;
        for (unsigned bit = 0; bit < 8 && i + bit < count; ++bit)
            if ((i + bit) % 2 == 0) byte |= static_cast<uint8_t>(1u << bit);
        bytes.push_back(byte);
    }
}

void Text(Bytes& bytes, std::string_view text) {
    for (char c : text) bytes.push_back(static_cast<uint8_t>(c));
}

Bytes Head(uint8_t station, uint8_t function, std::initializer_list<unsigned> words) {
    Bytes bytes{station, function};
    for (unsigned w : words) Word(bytes, w);
    return bytes;
}

// A read of bits (1, 2) or registers (3, 4) and its reply.
BusExchange Read(std::string what, uint8_t station, uint8_t function, unsigned address,
                 unsigned count) {
    Bytes reply{station, function};
    if (function <= 2) {
        reply.push_back(static_cast<uint8_t>((count + 7) / 8));
        Bits(reply, count);
    } else {
        reply.push_back(static_cast<uint8_t>(2 * count));
        Registers(reply, count, station * 1000u + address);
    }
    return {std::move(what), Frame(Head(station, function, {address, count})), Frame(reply)};
}

// A request answered by its own bytes: 5, 6 and 8's echo.
BusExchange Echoed(std::string what, uint8_t station, uint8_t function, unsigned first,
                   unsigned second) {
    const Bytes request = Frame(Head(station, function, {first, second}));
    return {std::move(what), request, request};
}

BusExchange WriteMultiple(std::string what, uint8_t station, uint8_t function, unsigned address,
                          unsigned count) {
    Bytes request = Head(station, function, {address, count});
    if (function == 15) {
        request.push_back(static_cast<uint8_t>((count + 7) / 8));
        Bits(request, count);
    } else {
        request.push_back(static_cast<uint8_t>(2 * count));
        Registers(request, count, 500);
    }
    const Bytes reply = station == 0 ? Bytes{} : Frame(Head(station, function, {address, count}));
    return {std::move(what), Frame(request), reply};
}

BusExchange ReportServerId(std::string what, uint8_t station) {
    constexpr std::string_view kId = "TLV-SIM";
    Bytes reply{station, 17, static_cast<uint8_t>(kId.size() + 1)};
    Text(reply, kId);
    reply.push_back(0xFF);  // running
    return {std::move(what), Frame({station, 17}), Frame(reply)};
}

BusExchange ReadWriteMultiple(std::string what, uint8_t station, unsigned readAddress,
                              unsigned readCount, unsigned writeAddress, unsigned writeCount) {
    Bytes request = Head(station, 23, {readAddress, readCount, writeAddress, writeCount});
    request.push_back(static_cast<uint8_t>(2 * writeCount));
    Registers(request, writeCount, 700);
    Bytes reply{station, 23, static_cast<uint8_t>(2 * readCount)};
    Registers(reply, readCount, station * 1000u + readAddress);
    return {std::move(what), Frame(request), Frame(reply)};
}

// Read device identification, the basic objects as one stream.
BusExchange ReadDeviceId(std::string what, uint8_t station) {
    const std::string_view objects[] = {"Talvenor \"bus\", sim", "TLV-SIM", "1.0"};
    Bytes reply{station, 43, 14, 1, 1, 0, 0, static_cast<uint8_t>(std::size(objects))};
    for (size_t id = 0; id < std::size(objects); ++id) {
        reply.push_back(static_cast<uint8_t>(id));
        reply.push_back(static_cast<uint8_t>(objects[id].size()));
        Text(reply, objects[id]);
    }
    return {std::move(what), Frame({station, 43, 14, 1, 0}), Frame(reply)};
}

BusExchange Refused(std::string what, uint8_t station, uint8_t function, unsigned first,
                    unsigned second, uint8_t code) {
    return {std::move(what), Frame(Head(station, function, {first, second})),
            Frame({station, static_cast<uint8_t>(function | 0x80), code})};
}

}  // namespace

std::vector<BusExchange> BusCycle() {
    std::vector<BusExchange> cycle{
        Read("station 1 function 3: 10 holding registers from 0", 1, 3, 0, 10),
        Read("station 2 function 4: 125 input registers from 0", 2, 4, 0, 125),
        Read("station 1 function 1: 20 coils from 0", 1, 1, 0, 20),
        Read("station 2 function 2: 12 discrete inputs from 0", 2, 2, 0, 12),
        Echoed("station 3 function 5: coil 4 on", 3, 5, 4, 0xFF00),
        Echoed("station 3 function 6: register 1 to 4660", 3, 6, 1, 4660),
        WriteMultiple("station 1 function 15: 10 coils from 0", 1, 15, 0, 10),
        WriteMultiple("station 2 function 16: 3 registers from 8", 2, 16, 8, 3),
        Echoed("station 3 function 8: diagnostics 0, echo of a537", 3, 8, 0, 0xA537),
        ReportServerId("station 1 function 17: report server id", 1),
        ReadWriteMultiple("station 2 function 23: read 2 from 0, write 2 at 10", 2, 0, 2, 10, 2),
        ReadDeviceId("station 3 function 43/14: device identification, basic", 3),
        Refused("station 4 function 3: exception 2 (illegal data address)", 4, 3, 900, 2, 2),
        Refused("station 4 function 6: exception 3 (illegal data value)", 4, 6, 0, 65535, 3),
        Read("station 5 function 3: never answered", 5, 3, 0, 2),
        Read("station 1 function 3: its reply's CRC spoiled", 1, 3, 0, 2),
        WriteMultiple("station 0 function 16: broadcast of 2 registers from 0", 0, 16, 0, 2),
    };
    cycle[14].reply.clear();
    cycle[15].reply.back() ^= 0xFF;
    return cycle;
}

std::vector<BusExchange> RoughBusCycle() {
    // A master that waits 1 s for a reply, gives up, and tries once more.
    BusExchange unanswered = Read("station 2 function 3: not answered", 2, 3, 0, 1);
    unanswered.reply.clear();
    unanswered.nextAfterMs = 600;
    BusExchange late = Read("station 3 function 3: answered after the master's 1 s", 3, 3, 0, 1);
    late.replyAfterMs = 1100;
    late.answers = false;
    // One register where two were asked for, its CRC good; the master waits
    // for the rest until its byte timeout.
    BusExchange cut = Read("station 4 function 3: a short reply, one register of two", 4, 3, 0, 2);
    cut.reply = Frame({4, 3, 2, 0x0F, 0xA0});
    cut.nextAfterMs = 500;
    BusExchange wrongCount =
        Refused("station 1 function 16: byte count 3 for 2 registers, exception 3", 1, 16, 0, 2, 3);
    wrongCount.request.resize(wrongCount.request.size() - 2);
    wrongCount.request.insert(wrongCount.request.end(), {3, 0x12, 0x34, 0x56});
    wrongCount.request = Frame(wrongCount.request);
    BusExchange otherStation = Read("station 5 function 3: answered by station 4", 5, 3, 0, 1);
    otherStation.reply = Read("", 4, 3, 0, 1).reply;
    otherStation.answers = false;
    return {
        Read("station 1 function 3: 2 holding registers from 0", 1, 3, 0, 2),
        unanswered,
        Read("station 2 function 3: the retry, answered", 2, 3, 0, 1),
        late,
        cut,
        {"station 1 function 0x42: no such function, exception 1", Frame({1, 0x42}),
         Frame({1, 0xC2, 1})},
        wrongCount,
        otherStation,
    };
}

BusTimeline LayOutBus(const std::vector<BusExchange>& cycle, double characterMicros,
                      double turnaroundMicros, double intervalMicros, bool echo) {
    BusTimeline timeline;
    double at = 0;
    auto place = [&](const std::vector<uint8_t>& frame, PlayedFrame played) {
        timeline.frames.push_back({std::llround(at), frame.size()});
        timeline.played.push_back(played);
        timeline.bytes.insert(timeline.bytes.end(), frame.begin(), frame.end());
        at += static_cast<double>(frame.size()) * characterMicros;
    };
    using Role = PlayedFrame::Role;
    for (size_t i = 0; i < cycle.size(); ++i) {
        const BusExchange& exchange = cycle[i];
        place(exchange.request, {Role::Request, i});
        const double requestEnd = at;
        if (echo) place(exchange.request, {Role::Echo, i});
        if (!exchange.reply.empty()) {
            at += exchange.replyAfterMs >= 0 ? exchange.replyAfterMs * 1000 : turnaroundMicros;
            place(exchange.reply, exchange.answers
                                      ? PlayedFrame{Role::Reply, i, std::llround(at - requestEnd)}
                                      : PlayedFrame{Role::Unpaired, i});
        }
        at += exchange.nextAfterMs >= 0 ? exchange.nextAfterMs * 1000 : intervalMicros;
    }
    timeline.cycleMicros = std::llround(at);
    return timeline;
}
