// libmodbus master and slave on a simulated two-wire bus, Talvenor listening: the bus's log
// is the truth for every frame's bytes, role, pairing and response time.
#include <gtest/gtest.h>
#include <modbus.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../serial/SerialPortPtyFixture.h"
#include "ModbusRtuSlave.h"
#include "TwoWireBus.h"
#include "trace/LineRecord.h"

namespace {

constexpr int kStation = 17;
constexpr int kShortAddress = 10;  // answered with one register fewer than asked, CRC good
constexpr int kSlowAddress = 12;   // answered 200 ms late, within the master's 500 ms
constexpr int kRounds = 4;

struct Collected : FrameSink {
    void Take(std::span<const LineFrame> frames) override {
        std::lock_guard hold(lock);
        for (const LineFrame& frame : frames)
            if (!frame.bytes.empty()) taken.push_back(frame);
    }
    std::mutex lock;
    std::vector<LineFrame> taken;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%s%02x", text.empty() ? "" : " ", b);
        text += two;
    }
    return text;
}

// Every public read and write of the library, then its error cases.
void PollSlave(const std::string& path, uint32_t baud) {
    modbus_t* master = modbus_new_rtu(path.c_str(), static_cast<int>(baud), 'N', 8, 1);
    ASSERT_TRUE(master && modbus_connect(master) == 0) << path;
    modbus_set_slave(master, kStation);
    modbus_set_response_timeout(master, 0, 500000);
    uint16_t registers[16] = {1, 2, 3, 4};
    uint8_t bits[16] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
    uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
    for (int round = 0; round < kRounds; ++round) {
        EXPECT_EQ(modbus_read_registers(master, 0, 10, registers), 10);
        EXPECT_EQ(modbus_read_input_registers(master, 0, 16, registers), 16);
        EXPECT_EQ(modbus_read_bits(master, 0, 12, bits), 12);
        EXPECT_EQ(modbus_read_input_bits(master, 0, 5, bits), 5);
        EXPECT_EQ(modbus_write_bit(master, 3, 1), 1);
        EXPECT_EQ(modbus_write_register(master, 2, 0x1234), 1);
        EXPECT_EQ(modbus_write_bits(master, 0, 10, bits), 10);
        EXPECT_EQ(modbus_write_registers(master, 4, 3, registers), 3);
        EXPECT_EQ(modbus_write_and_read_registers(master, 8, 2, registers, 0, 4, registers), 4);
        EXPECT_EQ(modbus_read_registers(master, kShortAddress, 2, registers), -1);
        EXPECT_EQ(modbus_read_registers(master, kSlowAddress, 2, registers), 2);
        const uint8_t unknownFunction[] = {kStation, 0x42};
        ASSERT_GT(modbus_send_raw_request(master, unknownFunction, sizeof unknownFunction), 0);
        EXPECT_EQ(modbus_receive_confirmation(master, reply), 5);  // exception 1
        const uint8_t wrongByteCount[] = {kStation, 0x10, 0, 4, 0, 2, 3, 1, 2, 3};
        ASSERT_GT(modbus_send_raw_request(master, wrongByteCount, sizeof wrongByteCount), 0);
        EXPECT_EQ(modbus_receive_confirmation(master, reply), 5);  // exception 3
    }
    // Another station's request: the slave library ignores it, and no reply comes.
    modbus_set_slave(master, kStation + 1);
    EXPECT_EQ(modbus_read_registers(master, 0, 1, registers), -1);
    modbus_close(master);
    modbus_free(master);
}

struct Row {
    const char* name;
    uint32_t baud;
    HandOver handOver;
};

void ListenTo(const Row& row) {
    TwoWireBus bus(row.baud, row.handOver);
    ModbusRtuSlave slave(bus.SlavePath(), static_cast<int>(row.baud), kStation, 20);
    slave.AnswerFirst([](modbus_t& context, const std::vector<uint8_t>& request) {
        const int address = request[2] << 8 | request[3];
        if (request[1] != 3) return false;
        if (address == kSlowAddress) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (address != kShortAddress) return false;
        const uint8_t shortReply[] = {kStation, 3, 2, 0, 0x17};
        modbus_send_raw_request(&context, shortReply, sizeof shortReply);
        return true;
    });
    PrivatePortDirectory ports;
    ports.Link(1, bus.ListenerPath());
    Collected collected;
    SerialPortTestOwner owner;
    {
        LineRecord record(ports.Comm());
        record.Record({&collected});
        ASSERT_TRUE(record.Open(&owner, 1, row.baud, 'N', 8, 1, EV_RXCHAR, 4096));
        std::atomic<bool> polled{false};
        std::thread master([&] {
            PollSlave(bus.MasterPath(), row.baud);
            polled = true;
        });
        owner.PumpUntil(
            record.Port(), [&] { return polled.load(); }, std::chrono::seconds(60));
        master.join();
        size_t wireBytes = 0;
        for (const BusFrame& frame : bus.Log()) wireBytes += frame.bytes.size();
        owner.PumpUntil(record.Port(), [&] { return bus.HandedOver() == wireBytes; });
        const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        owner.PumpUntil(record.Port(), [&] { return std::chrono::steady_clock::now() > settled; });
    }  // the trace ends what is open

    const std::vector<BusFrame> truth = bus.Log();
    const std::vector<LineFrame> seen = collected.taken;
    std::vector<size_t> seenAt{0};
    std::vector<uint8_t> wire, heard;
    for (const LineFrame& frame : seen) {
        heard.insert(heard.end(), frame.bytes.begin(), frame.bytes.end());
        seenAt.push_back(heard.size());
    }
    for (const BusFrame& frame : truth)
        wire.insert(wire.end(), frame.bytes.begin(), frame.bytes.end());
    EXPECT_EQ(Hex(heard), Hex(wire)) << row.name << ": bytes lost or invented";

    const double blurUs = row.handOver == HandOver::Usb    ? 16000
                          : row.handOver == HandOver::Fifo ? 4 * bus.CharacterUs()
                                                           : 0;
    const double toleranceUs = blurUs + bus.CharacterUs() + 1000;
    int whole = 0, paired = 0, machineLate = 0;
    size_t at = 0;
    const BusFrame* request = nullptr;
    int64_t requestLateUs = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
        const BusFrame& frame = truth[i];
        const size_t end = at + frame.bytes.size();
        const auto match = std::find(seenAt.begin(), seenAt.end() - 1, at) - seenAt.begin();
        const bool isWhole = static_cast<size_t>(match) < seen.size() && seenAt[match + 1] == end;
        std::string problem = isWhole ? "" : "not whole";
        if (isWhole) {
            ++whole;
            const LineFrame& got = seen[static_cast<size_t>(match)];
            const int64_t truthUs = request ? frame.startUs - request->endUs : -1;
            // A busy machine's late stamps are counted apart, not taken for the assembler's.
            const int64_t lateUs =
                std::max<int64_t>(
                    got.first.steadyUs - frame.startUs,
                    got.last.steadyUs + std::llround(bus.CharacterUs()) - frame.endUs) -
                std::llround(blurUs);
            const bool stampedLate = std::max(lateUs, requestLateUs) > 1000;
            if (frame.fromMaster) requestLateUs = lateUs;
            if (frame.fromMaster != (got.role == FrameRole::Request))
                problem = frame.fromMaster ? "not taken as a request" : "not taken as a reply";
            else if (!frame.fromMaster && request && got.request != request->bytes)
                problem = "paired with " + Hex(got.request);
            else if (!frame.fromMaster && std::abs(got.responseUs - truthUs) > toleranceUs &&
                     !(stampedLate && ++machineLate))
                problem = "response " + std::to_string(got.responseUs) + " us against the wire's " +
                          std::to_string(truthUs) + " us";
        }
        if (problem.empty()) {
            ++paired;
        } else {
            std::string became;
            for (size_t k = 0; k < seen.size(); ++k)
                if (seenAt[k] < end && seenAt[k + 1] > at)
                    became += " [" + Hex(seen[k].bytes) + (seen[k].BadCheck() ? " CRC 错误" : "") +
                              (seen[k].role == FrameRole::Request ? " request"
                               : seen[k].role == FrameRole::Reply ? " reply"
                                                                  : "") +
                              "]";
            ADD_FAILURE() << row.name << ": frame " << i + 1 << " of " << truth.size() << " ("
                          << (frame.fromMaster ? "master" : "slave") << ", " << Hex(frame.bytes)
                          << ", at " << (frame.startUs - truth[0].startUs) / 1000 << " ms) "
                          << problem << "; recorded as" << became;
        }
        if (frame.fromMaster) request = &frame;
        if (frame.fromMaster && !isWhole) requestLateUs = 0;
        at = end;
    }
    std::printf("%s: %d of %zu frames whole, %d paired; %d times not judged (stamped late)\n",
                row.name, whole, truth.size(), paired, machineLate);
    EXPECT_EQ(paired, static_cast<int>(truth.size())) << row.name;
    const auto replies =
        std::count_if(truth.begin(), truth.end(), [](const BusFrame& f) { return !f.fromMaster; });
    EXPECT_LT(machineLate * 4, replies * 3) << row.name << ": too many late stamps to judge";
}

TEST(RealLibraryBus, FramesWholeAndPairedAsTheWireCarriedThem) {
    const Row rows[] = {
        {"9600 one write a frame", 9600, HandOver::Write},
        {"9600 16550A FIFO", 9600, HandOver::Fifo},
        {"9600 USB adapter", 9600, HandOver::Usb},
        {"115200 one write a frame", 115200, HandOver::Write},
        {"115200 16550A FIFO", 115200, HandOver::Fifo},
        {"115200 USB adapter", 115200, HandOver::Usb},
    };
    for (const Row& row : rows) ListenTo(row);
}

}  // namespace
