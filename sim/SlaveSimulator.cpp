#include "sim/SlaveSimulator.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

constexpr size_t kMaxFrame = 600;  // longer than any ASCII request

// RTU request length from its first bytes; 0 when not known yet, -1 when
// the function has no fixed layout (the frame ends when the line goes quiet).
int RtuRequestLength(const std::vector<uint8_t>& b) {
    if (b.size() < 2) return 0;
    switch (b[1]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            return 8;
        case 15:
        case 16:
            return b.size() < 7 ? 0 : 9 + b[6];
        default:
            return -1;
    }
}

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// ':' digit pairs, LRC, CR LF to bytes without the LRC; empty when malformed.
std::vector<uint8_t> DecodeAscii(const std::vector<uint8_t>& frame) {
    const size_t digits = frame.size() - 3;  // without ':' and CR LF
    if (frame.size() < 9 || digits % 2 != 0 || frame[frame.size() - 2] != '\r') return {};
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i + 1 < frame.size() - 2; i += 2) {
        const int high = HexValue(frame[i]), low = HexValue(frame[i + 1]);
        if (high < 0 || low < 0) return {};
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    if (SimLrc(bytes.data(), bytes.size() - 1) != bytes.back()) return {};
    bytes.pop_back();
    return bytes;
}

std::vector<uint8_t> EncodeAscii(const std::vector<uint8_t>& bytes, bool brokenCheck) {
    static const char digits[] = "0123456789ABCDEF";
    std::vector<uint8_t> frame{':'};
    auto put = [&](uint8_t b) {
        frame.push_back(static_cast<uint8_t>(digits[b >> 4]));
        frame.push_back(static_cast<uint8_t>(digits[b & 15]));
    };
    for (uint8_t b : bytes) put(b);
    put(static_cast<uint8_t>(SimLrc(bytes.data(), bytes.size()) + (brokenCheck ? 1 : 0)));
    frame.push_back('\r');
    frame.push_back('\n');
    return frame;
}

}  // namespace

uint16_t SimCrc16(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

uint8_t SimLrc(const uint8_t* bytes, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(-sum);
}

SlaveSimulator::SlaveSimulator(const SimOptions& chosen) : options(chosen) {
    // An RTU context that is never connected: libmodbus builds the replies
    // and writes them to a socket pair instead of a device.
    context = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!context || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replyFds) != 0)
        throw std::runtime_error(std::string("cannot set up libmodbus: ") + std::strerror(errno));
    fcntl(replyFds[1], F_SETFL, O_NONBLOCK);
    modbus_set_socket(context, replyFds[0]);
    // libmodbus sleeps this long before some exception replies.
    modbus_set_response_timeout(context, 0, 1000);
    const int n = options.mapSize;
    for (int station : options.stations) {
        modbus_mapping_t* map = modbus_mapping_new(n, n, n, n);
        if (!map) throw std::runtime_error("out of memory for the register maps");
        for (int i = 0; i < n; ++i) {
            map->tab_registers[i] = static_cast<uint16_t>(station * 1000 + i);
            map->tab_input_registers[i] = static_cast<uint16_t>(i);
            map->tab_bits[i] = static_cast<uint8_t>(i % 2);
            map->tab_input_bits[i] = static_cast<uint8_t>((i + 1) % 2);
        }
        maps[station] = map;
    }
}

SlaveSimulator::~SlaveSimulator() {
    for (auto& [station, map] : maps) modbus_mapping_free(map);
    if (context) modbus_free(context);
    for (int fd : replyFds)
        if (fd >= 0) close(fd);
}

void SlaveSimulator::Tick() {
    ++ticks;
    for (auto& [station, map] : maps) {
        ++map->tab_registers[0];
        map->tab_input_registers[0] = static_cast<uint16_t>(ticks % 100);
        map->tab_bits[0] ^= 1;
        map->tab_input_bits[0] ^= 1;
    }
}

std::vector<uint8_t> SlaveSimulator::Take(const uint8_t* bytes, size_t count) {
    pending.insert(pending.end(), bytes, bytes + count);
    return TakeFrames(false);
}

std::vector<uint8_t> SlaveSimulator::Quiet() { return TakeFrames(true); }

std::vector<uint8_t> SlaveSimulator::TakeFrames(bool lineQuiet) {
    std::vector<uint8_t> replies;
    while (!pending.empty()) {
        std::vector<uint8_t> frame;
        bool ascii = pending[0] == ':';
        if (ascii) {
            size_t end = 1;
            while (end < pending.size() && pending[end] != '\n' && pending[end] != ':') ++end;
            if (end == pending.size() && !lineQuiet && pending.size() < kMaxFrame) break;
            if (end < pending.size() && pending[end] == '\n') ++end;
            frame.assign(pending.begin(), pending.begin() + static_cast<long>(end));
        } else {
            int length = RtuRequestLength(pending);
            if (length < 0 || (lineQuiet && static_cast<size_t>(length) > pending.size()))
                length = lineQuiet ? static_cast<int>(pending.size()) : 0;
            if (length == 0 || static_cast<size_t>(length) > pending.size()) {
                if (pending.size() < kMaxFrame) break;
                length = static_cast<int>(pending.size());
            }
            frame.assign(pending.begin(), pending.begin() + length);
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(frame.size()));

        std::vector<uint8_t> request;
        if (ascii) {
            request = DecodeAscii(frame);
            if (!request.empty()) request.insert(request.end(), {0, 0});  // where the CRC goes
        } else if (frame.size() >= 4 &&
                   SimCrc16(frame.data(), frame.size() - 2) ==
                       (frame[frame.size() - 2] | frame[frame.size() - 1] << 8)) {
            request = frame;
        }
        if (request.size() < 4) {
            ++refused;  // a device ignores a frame whose check fails
            continue;
        }
        const std::vector<uint8_t> reply = Answer(std::move(request), ascii);
        replies.insert(replies.end(), reply.begin(), reply.end());
    }
    return replies;
}

std::vector<uint8_t> SlaveSimulator::Answer(std::vector<uint8_t> request, bool ascii) {
    const auto map = maps.find(request[0]);
    if (map == maps.end() || options.silent) return {};  // another station's request
    std::vector<uint8_t> reply;
    if (options.exceptionCode != 0) {
        // Built here: libmodbus knows only the codes the standard names.
        reply = {request[0], static_cast<uint8_t>(request[1] | 0x80),
                 static_cast<uint8_t>(options.exceptionCode)};
        const uint16_t crc = SimCrc16(reply.data(), reply.size());
        reply.push_back(static_cast<uint8_t>(crc));  // low byte first
        reply.push_back(static_cast<uint8_t>(crc >> 8));
    } else {
        if (modbus_reply(context, request.data(), static_cast<int>(request.size()), map->second) <=
            0)
            return {};
        uint8_t chunk[512];
        for (ssize_t n; (n = read(replyFds[1], chunk, sizeof chunk)) > 0;)
            reply.insert(reply.end(), chunk, chunk + n);
    }
    if (reply.size() < 4) return {};
    ++answered;
    if (ascii) {
        reply.resize(reply.size() - 2);  // libmodbus's CRC
        return EncodeAscii(reply, options.brokenCheck);
    }
    if (options.brokenCheck) reply.back() ^= 0xFF;
    return reply;
}
