// The serial engine on the fake comm layer: configuration and its failures,
// event dispatch, the read and write routines, and stopping the worker while
// it waits inside a notification.
#include "FakeComm.h"
#include "PcapFile.h"
#include "SerialPortTestOwner.h"

#include "serial/LineTap.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace {

using Call = FakeComm::Call;
using Completion = FakeComm::Completion;
using namespace std::chrono_literals;

std::string Expected(const std::string& operation, int error, int portNumber) {
    return "WARNING:  " + operation + " Failed with the following error: \n" +
           std::strerror(error) + "\nPort: " + std::to_string(portNumber) + "\n";
}

class SerialPortFake : public ::testing::Test {
protected:
    SerialPortFake() {
        auto owned = std::make_unique<FakeComm>();
        fake = owned.get();
        port = std::make_unique<SerialPort>(std::move(owned));
    }

    bool OpenPort(int32_t portNumber = 3, uint32_t eventMask = EV_RXCHAR | EV_CTS,
                  uint32_t bufferSize = 512) {
        return port->Open(&owner, portNumber, 9600, 'N', 8, 1, eventMask, bufferSize);
    }

    enum class Hold { None, UntilReleased, UntilShutdown };

    // Returns once the worker's event wait is out: the worker purges the
    // device when it starts, and an event that completes the wait at once
    // without input is passed over, so tests raise their line events after.
    // With a hold the worker stays at its first wait on the event table.
    void OpenAndStart(uint32_t eventMask = EV_RXCHAR | EV_CTS, Hold hold = Hold::None) {
        ASSERT_TRUE(OpenPort(3, eventMask));
        if (hold != Hold::None)
            fake->HoldAt(Call::WaitForAny, hold == Hold::UntilShutdown ? 0 : -1);
        StartWorker(hold == Hold::None);
        if (hold != Hold::None) {
            ASSERT_TRUE(fake->WaitUntilHeld(10s));
        }
    }

    void StartWorker(bool waitForTheEventWait = true) {
        const int waits = fake->CallCount(Call::WaitForAny);
        ASSERT_TRUE(port->StartWorker());
        if (waitForTheEventWait) {
            ASSERT_TRUE(fake->WaitFor(
                [&](const FakeComm& f) { return f.CallCount(Call::WaitForAny) > waits; }, 10s));
        }
    }

    bool Pump(const std::function<bool()>& done) { return owner.PumpUntil(*port, done); }

    bool Write(const std::vector<uint8_t>& bytes) {
        return port->RequestWrite(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    SerialPortTestOwner owner;  // outlives the port, which may still notify it
    FakeComm* fake = nullptr;
    std::unique_ptr<SerialPort> port;
};

TEST_F(SerialPortFake, DefaultsBeforeTheFirstOpen) {
    const DCB line = port->GetLineSettings();
    EXPECT_EQ(line.baudRate, 9600u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, 0);
    EXPECT_EQ(line.stopBits, 0);
    EXPECT_EQ(port->GetBufferSize(), 512u);
    EXPECT_EQ(port->GetEventMask(), EV_RXCHAR | EV_CTS);

    // No buffer and no device yet: a request is refused, not kept, and no
    // worker can run.
    EXPECT_FALSE(Write({1, 2, 3}));
    EXPECT_FALSE(port->StartWorker());
    EXPECT_EQ(fake->CallCount(Call::OpenDevice), 0);
}

TEST_F(SerialPortFake, OpenConfiguresTheDeviceWithTheRequestedLine) {
    ASSERT_TRUE(port->Open(&owner, 3, 19200, 'E', 7, 2, EV_RXCHAR | EV_CTS, 300));

    EXPECT_EQ(fake->OpenedNames(), std::vector<std::string>{"COM3"});
    EXPECT_EQ(fake->BuildTexts(), std::vector<std::string>{"baud=19200 parity=E data=7 stop=2"});
    const CommTimeouts timeouts = fake->DeviceTimeouts();
    for (uint32_t value : {timeouts.readIntervalTimeout, timeouts.readTotalTimeoutMultiplier,
                           timeouts.readTotalTimeoutConstant, timeouts.writeTotalTimeoutMultiplier,
                           timeouts.writeTotalTimeoutConstant})
        EXPECT_EQ(value, 1000u);
    EXPECT_EQ(fake->DeviceMask(), EV_RXCHAR | EV_CTS);

    const DCB device = fake->DeviceState();
    EXPECT_EQ(device.baudRate, 19200u);
    EXPECT_EQ(device.byteSize, 7);
    EXPECT_EQ(device.parity, EVENPARITY);
    EXPECT_EQ(device.stopBits, TWOSTOPBITS);
    EXPECT_EQ(device.rtsControl, RTS_CONTROL_ENABLE);

    const DCB line = port->GetLineSettings();
    EXPECT_EQ(line.baudRate, 19200u);
    EXPECT_EQ(line.byteSize, 7);
    EXPECT_EQ(line.parity, EVENPARITY);
    EXPECT_EQ(line.stopBits, TWOSTOPBITS);
    EXPECT_EQ(port->GetBufferSize(), 300u);
    EXPECT_EQ(fake->Purges(), std::vector<uint32_t>{15});
    EXPECT_TRUE(owner.errors.empty());
}

struct OpenFailure {
    const char* name;
    Call call;
    const char* operation;
    uint32_t baudAfter;  // what GetLineSettings reports afterwards
};

void PrintTo(const OpenFailure& row, std::ostream* out) { *out << row.name; }

class SerialPortOpenFailure : public SerialPortFake,
                              public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(SerialPortOpenFailure, IsReportedAndTheOpenGoesOn) {
    const OpenFailure& row = GetParam();
    DCB deviceState;
    deviceState.baudRate = 4800;
    fake->SetInitialState(deviceState);
    fake->FailOnce(row.call, EIO);

    EXPECT_TRUE(port->Open(&owner, 3, 19200, 'E', 7, 2, EV_RXCHAR | EV_CTS, 512));

    ASSERT_EQ(owner.errors.size(), 1u);
    EXPECT_EQ(owner.errors[0].text, Expected(row.operation, EIO, 3));
    EXPECT_EQ(owner.errors[0].caption, "Application Error");
    // The device stays open and is purged; the configuration stopped at the
    // failed call and kept what was settled before it.
    EXPECT_EQ(fake->OpenDeviceCount(), 1);
    EXPECT_EQ(fake->Purges(), std::vector<uint32_t>{15});
    EXPECT_EQ(port->GetLineSettings().baudRate, row.baudAfter);
    EXPECT_TRUE(port->StartWorker());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SerialPortOpenFailure,
    ::testing::Values(
        OpenFailure{"Timeouts", Call::SetCommTimeouts, "SetCommTimeouts()", 9600},
        OpenFailure{"EventMask", Call::SetCommMask, "SetCommMask()", 9600},
        OpenFailure{"ReadingTheStateKeepsThePrevious", Call::GetCommState, "GetCommState()", 9600},
        OpenFailure{"BuildingKeepsTheDevicesState", Call::BuildCommDCB, "BuildCommDCB()", 4800},
        OpenFailure{"WritingKeepsTheRequested", Call::SetCommState, "SetCommState()", 19200}),
    [](const auto& info) { return std::string(info.param.name); });

// A USB adapter is asked to hand bytes over at once while it is open and
// given its own pace back at close; a device without the mode (a pty, a
// driver that refuses) opens all the same, without a box.
TEST_F(SerialPortFake, LowLatencyWhileOpenAndADeviceThatRefusesStillOpens) {
    ASSERT_TRUE(OpenPort());
    EXPECT_TRUE(fake->LowLatency());
    bool atReopen = true;
    fake->SetCallHook([&](Call call) {
        if (call == Call::OpenDevice) atReopen = fake->LowLatency();
    });
    ASSERT_TRUE(OpenPort());
    EXPECT_FALSE(atReopen);
    EXPECT_TRUE(fake->LowLatency());

    fake->FailAlways(Call::SetLowLatency, ENOTTY);
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(fake->OpenDeviceCount(), 1);
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(SerialPortFake, ConfigurationStopsAtTheFirstFailedCall) {
    fake->FailOnce(Call::SetCommTimeouts, EIO);
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(fake->CallCount(Call::SetCommMask), 0);
    EXPECT_EQ(fake->CallCount(Call::GetCommState), 0);
    EXPECT_EQ(fake->CallCount(Call::SetCommState), 0);
}

TEST_F(SerialPortFake, LongSystemTextIsShownWhole) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "设备错误";
    fake->SetErrorText(EIO, text);
    fake->FailOnce(Call::SetCommState, EIO);
    ASSERT_TRUE(OpenPort(7));
    ASSERT_EQ(owner.errors.size(), 1u);
    EXPECT_EQ(owner.errors[0].text, "WARNING:  SetCommState() Failed with the following error: \n" +
                                        text + "\nPort: 7\n");
}

TEST_F(SerialPortFake, MissingDeviceFailsQuietlyAndEndsTheRunningWorker) {
    OpenAndStart();
    fake->RemoveDevice("COM4");
    bool runningAtOpen = true;
    fake->SetCallHook([&](Call call) {
        if (call == Call::OpenDevice) runningAtOpen = port->IsWorkerRunning();
    });

    EXPECT_FALSE(port->Open(&owner, 4, 19200, 'E', 7, 2, EV_CTS, 1024));
    EXPECT_FALSE(runningAtOpen) << "the worker ends before the device is opened again";

    EXPECT_TRUE(owner.errors.empty());
    EXPECT_TRUE(owner.notes.empty());
    EXPECT_FALSE(port->IsWorkerRunning());
    EXPECT_EQ(port->WorkerExitCode(), kWorkerExitCode);
    EXPECT_FALSE(port->StartWorker());
    EXPECT_FALSE(Write({1}));
    // The new buffer size and mask are kept; the line keeps the last open's.
    EXPECT_EQ(port->GetBufferSize(), 1024u);
    EXPECT_EQ(port->GetEventMask(), EV_CTS);
    EXPECT_EQ(port->GetLineSettings().baudRate, 9600u);
    EXPECT_EQ(fake->OpenDeviceCount(), 0);
}

TEST_F(SerialPortFake, StartWorkerAnswersWhetherTheThreadStarted) {
    ASSERT_TRUE(OpenPort());
    fake->FailOnce(Call::StartThread, EAGAIN);
    EXPECT_FALSE(port->StartWorker());
    EXPECT_FALSE(port->IsWorkerRunning());
    EXPECT_TRUE(port->StartWorker());
    EXPECT_FALSE(port->StartWorker()) << "one worker at a time";
}

TEST_F(SerialPortFake, EventsAreDispatchedInTheTablesOrderThenTheBytes) {
    OpenAndStart(0x1FF, Hold::UntilReleased);
    fake->QueueInput({0x41, 0xFF});
    fake->RaiseEvents(0x1FF);
    fake->Release();

    ASSERT_TRUE(Pump([&] { return owner.notes.size() >= 7; }));
    const std::vector<Note> expected = {
        {SPN_CTS, 0, 3},  {SPN_RXFLAG, 0, 3},    {SPN_BREAK, 0, 3},    {SPN_LINE_ERROR, 0, 3},
        {SPN_RING, 0, 3}, {SPN_RXCHAR, 0x41, 3}, {SPN_RXCHAR, 255, 3},
    };
    EXPECT_EQ(owner.notes, expected);
}

TEST_F(SerialPortFake, ModemAndOutputEventsGiveNoNotification) {
    OpenAndStart(0x1FF, Hold::UntilReleased);
    fake->RaiseEvents(EV_DSR | EV_RLSD | EV_TXEMPTY);
    fake->HoldAt(Call::WaitForAny);
    fake->Release();
    // Back at its wait: the word has been handled.
    ASSERT_TRUE(fake->WaitUntilHeld(10s));
    port->DispatchNotifications();
    EXPECT_TRUE(owner.notes.empty());
    fake->Release();

    fake->RaiseEvents(EV_RING);
    ASSERT_TRUE(Pump([&] { return !owner.notes.empty(); }));
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RING, 0, 3}}));
}

TEST_F(SerialPortFake, CtsChangeAndCharactersWithTheUsualMask) {
    OpenAndStart(EV_RXCHAR | EV_CTS);
    fake->RaiseEvents(EV_CTS);
    ASSERT_TRUE(Pump([&] { return owner.notes.size() >= 1; }));
    fake->QueueInput({5});
    ASSERT_TRUE(Pump([&] { return owner.notes.size() >= 2; }));
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_CTS, 0, 3}, {SPN_RXCHAR, 5, 3}}));
}

struct Signalled {
    const char* name;
    bool shutdown;
    bool comm;
    bool write;
};

void PrintTo(const Signalled& row, std::ostream* out) { *out << row.name; }

class SerialPortPriority : public SerialPortFake,
                           public ::testing::WithParamInterface<Signalled> {};

// The worker is held before its wait while the events of the row are
// signalled, so that it finds them all signalled at once.
TEST_P(SerialPortPriority, ShutdownFirstThenCommThenWrite) {
    const Signalled& row = GetParam();
    OpenAndStart(EV_RXCHAR | EV_CTS, row.shutdown ? Hold::UntilShutdown : Hold::UntilReleased);
    std::vector<size_t> writesAtNote;
    owner.onNote = [&](const Note&) { writesAtNote.push_back(fake->Writes().size()); };
    if (row.comm) {
        fake->QueueInput({1, 2, 3});
        fake->RaiseEvents(EV_CTS);
    }
    if (row.write) {
        ASSERT_TRUE(Write({9}));
    }

    if (row.shutdown) {
        ASSERT_TRUE(OpenPort());  // its stop releases the held worker
        EXPECT_EQ(port->WorkerExitCode(), kWorkerExitCode);
        EXPECT_TRUE(owner.notes.empty());
        EXPECT_TRUE(fake->Writes().empty());
    } else {
        fake->Release();
        ASSERT_TRUE(Pump([&] { return !fake->Writes().empty(); }));
        // The line events first, then the read routine gives way to the
        // write after one byte; the write's purge takes the rest.
        EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_CTS, 0, 3}, {SPN_RXCHAR, 1, 3}}));
        EXPECT_EQ(writesAtNote, (std::vector<size_t>{0, 0}));
        EXPECT_EQ(fake->Writes(), (std::vector<std::vector<uint8_t>>{{9}}));
        EXPECT_EQ(fake->InputQueued(), 0u);
    }
    port.reset();
}

INSTANTIATE_TEST_SUITE_P(Together, SerialPortPriority,
                         ::testing::Values(Signalled{"ShutdownBeforeCommAndWrite", true, true,
                                                     true},
                                           Signalled{"ShutdownBeforeComm", true, true, false},
                                           Signalled{"ShutdownBeforeWrite", true, false, true},
                                           Signalled{"CommBeforeWrite", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialPortFake, AStreamThatNeverPausesLetsAPendingWriteOutBeforeTheNextByte) {
    // Every status query finds one more byte: the input queue never empties,
    // however fast the owner takes the bytes.
    std::atomic<bool> streaming{true};
    std::atomic<int> next{1};
    fake->SetCallHook([&](Call call) {
        if (call == Call::ClearCommError && streaming.load())
            fake->QueueInput({static_cast<uint8_t>(next++)});
    });
    std::vector<size_t> writesAtNote;
    owner.onNote = [&](const Note&) {
        writesAtNote.push_back(fake->Writes().size());
        if (writesAtNote.size() == 3) {
            EXPECT_TRUE(Write({9}));
        }
    };
    OpenAndStart();
    fake->QueueInput({0});

    ASSERT_TRUE(Pump([&] { return writesAtNote.size() >= 6; }));
    streaming.store(false);
    EXPECT_EQ(fake->CallCount(Call::GetModemLines), 0) << "read for no tap";
    port.reset();
    ASSERT_GE(writesAtNote.size(), 6u);
    EXPECT_EQ(std::vector<size_t>(writesAtNote.begin(), writesAtNote.begin() + 6),
              (std::vector<size_t>{0, 0, 0, 1, 1, 1}));
}

struct ReadFailure {
    const char* name;
    Call call;
    Completion completion;
    const char* operation;
    std::vector<uint8_t> delivered;
    int failing = 1;  // the call of its kind that fails, from 1
};

void PrintTo(const ReadFailure& row, std::ostream* out) { *out << row.name; }

class SerialPortReadFailure : public SerialPortFake,
                              public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(SerialPortReadFailure, IsReportedAndNoByteIsMadeUp) {
    const ReadFailure& row = GetParam();
    fake->SetCompletion(Call::ReadByte, row.completion);
    OpenAndStart();
    // Counted on the worker, which may outlive this body's locals.
    fake->SetCallHook([fake = fake, &row, calls = std::make_shared<int>(0)](Call call) {
        if (call == row.call && ++*calls == row.failing) fake->FailOnce(row.call, EIO);
    });
    fake->QueueInput({1, 2, 3});

    ASSERT_TRUE(Pump([&] {
        return owner.errors.size() == 1 && owner.ReceivedBytes().size() == row.delivered.size();
    })) << ::testing::PrintToString(owner.ReceivedBytes());
    EXPECT_EQ(owner.errors[0].text, Expected(row.operation, EIO, 3));
    // The drain went on, and every notification stands for a byte read.
    EXPECT_EQ(owner.ReceivedBytes(), row.delivered);
    EXPECT_EQ(fake->InputQueued(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SerialPortReadFailure,
    ::testing::Values(
        ReadFailure{"ReadFails", Call::ReadByte, Completion::AtOnce, "ReadFile()", {1, 2, 3}},
        // The byte read before the failure goes to the owner before the box.
        ReadFailure{
            "SecondReadFails", Call::ReadByte, Completion::AtOnce, "ReadFile()", {1, 2, 3}, 2},
        ReadFailure{"CompletionFails",
                    Call::WaitReadResult,
                    Completion::Pending,
                    "GetOverlappedResults() in ReadFile()",
                    {2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialPortFake, FailedStatusQueryIsReportedOnceAndTheLineCanBeOpenedAgain) {
    OpenAndStart();
    fake->FailAlways(Call::ClearCommError, EIO);
    fake->QueueInput({1, 2, 3});
    ASSERT_TRUE(Pump([&] { return !owner.errors.empty(); }));
    EXPECT_EQ(owner.errors[0].text, Expected("ClearCommError()", EIO, 3));

    // The worker leaves the device alone: more input makes no further box
    // and no busy loop, and write requests are refused.
    EXPECT_FALSE(Write({7}));
    fake->QueueInput({4});
    port->DispatchNotifications();
    const int waits = fake->CallCount(Call::WaitForAny);

    fake->Heal(Call::ClearCommError);
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(owner.errors.size(), 1u);
    EXPECT_TRUE(owner.notes.empty());
    EXPECT_TRUE(fake->Writes().empty());
    EXPECT_LE(waits, 4);
    EXPECT_EQ(port->WorkerExitCode(), kWorkerExitCode);

    StartWorker();
    fake->QueueInput({5});
    ASSERT_TRUE(Pump([&] { return !owner.notes.empty(); }));
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RXCHAR, 5, 3}}));
}

struct EventWaitFailure {
    const char* name;
    int error;
    size_t boxes;
};

void PrintTo(const EventWaitFailure& row, std::ostream* out) { *out << row.name; }

class SerialPortEventWaitFailure : public SerialPortFake,
                                   public ::testing::WithParamInterface<EventWaitFailure> {};

TEST_P(SerialPortEventWaitFailure, ReportsAllButInvalidParameterAndGoesOn) {
    const EventWaitFailure& row = GetParam();
    ASSERT_TRUE(OpenPort());
    fake->FailOnce(Call::WaitCommEvent, row.error);
    // The failed wait leaves the worker on its table; a write wakes it and
    // the next wait goes out as usual.
    fake->HoldAt(Call::WaitForAny);
    ASSERT_TRUE(port->StartWorker());
    ASSERT_TRUE(Pump([&] { return fake->WaitUntilHeld(0ms); }));
    fake->HoldAt(Call::WaitForAny);
    fake->Release();
    ASSERT_TRUE(Write({1}));
    ASSERT_TRUE(fake->WaitUntilHeld(10s));
    fake->QueueInput({6});
    fake->Release();
    ASSERT_TRUE(Pump([&] { return !owner.notes.empty(); }));
    EXPECT_EQ(owner.errors.size(), row.boxes);
    if (row.boxes == 1) {
        EXPECT_EQ(owner.errors[0].text, Expected("WaitCommEvent()", row.error, 3));
    }
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RXCHAR, 6, 3}}));
}

INSTANTIATE_TEST_SUITE_P(Errors, SerialPortEventWaitFailure,
                         ::testing::Values(EventWaitFailure{"InvalidParameterIsPassedOver", EINVAL,
                                                            0},
                                           EventWaitFailure{"OtherErrorIsReported", EIO, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WriteFailure {
    const char* name;
    Call call;
    Completion completion;
    const char* operation;
};

void PrintTo(const WriteFailure& row, std::ostream* out) { *out << row.name; }

class SerialPortWriteFailure : public SerialPortFake,
                               public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(SerialPortWriteFailure, IsReportedAndTheNextRequestIsWritten) {
    const WriteFailure& row = GetParam();
    fake->SetCompletion(Call::Write, row.completion);
    OpenAndStart();
    fake->FailOnce(row.call, EIO);
    ASSERT_TRUE(Write({1, 2}));
    ASSERT_TRUE(Pump([&] { return !owner.errors.empty(); }));
    EXPECT_EQ(owner.errors[0].text, Expected(row.operation, EIO, 3));

    ASSERT_TRUE(Write({3}));
    ASSERT_TRUE(fake->WaitFor(
        [](const FakeComm& f) {
            return !f.Writes().empty() && f.Writes().back() == std::vector<uint8_t>{3};
        },
        10s));
    port->DispatchNotifications();
    EXPECT_EQ(owner.errors.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SerialPortWriteFailure,
    ::testing::Values(WriteFailure{"WriteFails", Call::Write, Completion::AtOnce, "WriteFile()"},
                      WriteFailure{"CompletionFails", Call::WaitWriteResult, Completion::Pending,
                                   "GetOverlappedResults() in WriteFile()"}),
    [](const auto& info) { return std::string(info.param.name); });

// How the owner stops a worker: opening another port, or closing the window.
enum class Stop { OpenOfAnotherPort, Destruction };

std::string StopName(const ::testing::TestParamInfo<Stop>& info) {
    return info.param == Stop::OpenOfAnotherPort ? "OpenOfAnotherPort" : "Destruction";
}

class SerialPortStalledWrite : public SerialPortFake, public ::testing::WithParamInterface<Stop> {};

TEST_P(SerialPortStalledWrite, StopCutsTheWriteShortWithoutABox) {
    fake->SetCompletion(Call::Write, Completion::Never);
    OpenAndStart();
    ASSERT_TRUE(Write({1, 2, 3}));
    ASSERT_TRUE(fake->WaitFor(
        [](const FakeComm& f) { return f.CallCount(Call::WaitWriteResult) == 1; }, 10s));

    const auto start = std::chrono::steady_clock::now();
    if (GetParam() == Stop::Destruction) {
        port.reset();  // the fake goes with it
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_TRUE(owner.errors.empty());
    } else {
        ASSERT_TRUE(OpenPort(4));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_TRUE(owner.errors.empty());
        // What was not sent is dropped from the device, output only.
        const std::vector<uint32_t> purges = fake->Purges();
        EXPECT_EQ(std::count(purges.begin(), purges.end(), PURGE_TXABORT | PURGE_TXCLEAR), 1);

        fake->SetCompletion(Call::Write, Completion::AtOnce);
        StartWorker();
        ASSERT_TRUE(Write({4}));
        ASSERT_TRUE(fake->WaitFor(
            [](const FakeComm& f) { return f.Writes().back() == std::vector<uint8_t>{4}; }, 10s));
    }
}

INSTANTIATE_TEST_SUITE_P(Stops, SerialPortStalledWrite,
                         ::testing::Values(Stop::OpenOfAnotherPort, Stop::Destruction), StopName);

TEST_F(SerialPortFake, QuickRequestsWriteOnlyTheNewest) {
    OpenAndStart(EV_RXCHAR | EV_CTS, Hold::UntilReleased);
    ASSERT_TRUE(Write({1, 1, 1}));
    ASSERT_TRUE(Write({2, 2}));
    fake->HoldAt(Call::WaitForAny);
    fake->Release();
    ASSERT_TRUE(fake->WaitUntilHeld(10s));
    EXPECT_EQ(fake->Writes(), (std::vector<std::vector<uint8_t>>{{2, 2}}));
    fake->Release();
}

TEST_F(SerialPortFake, UnreadInputIsPurgedBeforeEveryWrite) {
    // Without EV_RXCHAR in the mask the input just waits in the queue.
    OpenAndStart(EV_CTS);
    fake->QueueInput({1, 2, 3});
    const size_t purgesBefore = fake->Purges().size();
    ASSERT_TRUE(Write({9}));
    ASSERT_TRUE(fake->WaitFor([](const FakeComm& f) { return f.Writes().size() == 1; }, 10s));
    EXPECT_EQ(fake->InputQueued(), 0u);
    const std::vector<uint32_t> purges = fake->Purges();
    ASSERT_GT(purges.size(), purgesBefore);
    EXPECT_EQ(purges.back(), 15u);
}

// What a tap is handed: which way, the bytes, the control lines, the stamp,
// and all of it as text; its clock is the test's.
struct RecordingTap : LineTap {
    struct Record {
        bool sent;
        std::vector<uint8_t> bytes;
        uint8_t lines;
        LineStamp at;
    };
    std::mutex lock;
    std::vector<Record> records;
    std::string log;  // "open 9600; recv 1 2 3; sent 9; "
    std::atomic<int64_t> wallUs{0}, steadyUs{0};
    LineStamp Now() const override { return {wallUs.load(), steadyUs.load()}; }
    void LineOpened(const DCB& line) override {
        std::lock_guard guard(lock);
        log += "open " + std::to_string(line.baudRate) + "; ";
    }
    void Sent(LineStamp started, uint8_t lines, std::span<const uint8_t> bytes) override {
        Add("sent", {true, {bytes.begin(), bytes.end()}, lines, started});
    }
    void Received(LineStamp first, LineStamp, uint8_t lines, std::span<const uint8_t> bytes,
                  bool) override {
        Add("recv", {false, {bytes.begin(), bytes.end()}, lines, first});
    }
    void Add(std::string text, Record record) {
        std::lock_guard guard(lock);
        for (uint8_t byte : record.bytes) text += " " + std::to_string(byte);
        log += text + "; ";
        records.push_back(std::move(record));
    }
};

TEST_F(SerialPortFake, TheTapKeepsWhatThePurgeBeforeAWriteDiscards) {
    RecordingTap tap;
    port->SetTap(&tap);
    fake->SetModemLines(LINE_CTS | LINE_RTS);
    OpenAndStart(EV_CTS);  // the input waits in the queue
    fake->QueueInput({1, 2, 3});
    fake->SetCompletion(Call::Write, Completion::Pending);  // returns while its bytes drain
    ASSERT_TRUE(Write({9}));
    ASSERT_TRUE(fake->WaitFor([](const FakeComm& f) { return f.Writes().size() == 1; }, 10s));
    port.reset();
    EXPECT_TRUE(owner.ReceivedBytes().empty());
    ASSERT_EQ(tap.records.size(), 2u);
    EXPECT_TRUE(!tap.records[0].sent && tap.records[0].bytes == (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(tap.records[1].sent && tap.records[1].bytes == std::vector<uint8_t>{9});
    EXPECT_EQ(tap.records[1].lines, LINE_CTS | LINE_RTS | LINE_DTR);  // DTR: raised by the open
}

// What waits in the device at the first open is the previous user's (6, taken
// by the purge); from then on it came while the line was ours: at the reopen
// (7 and 6), as the worker starts (8), at the close (9).
TEST_F(SerialPortFake, TheTapKeepsWhatWaitsInTheDeviceOnceTheLineIsOurs) {
    RecordingTap tap;
    port->SetTap(&tap);
    fake->SetCallHook([f = fake](Call call) {
        if (call == Call::SetCommMask) f->QueueInput({6});
    });
    fake->SetCompletion(Call::Write, Completion::Never);
    OpenAndStart();
    ASSERT_TRUE(Write({1, 2, 3}));
    ASSERT_TRUE(
        fake->WaitFor([](const FakeComm& f) { return f.CallCount(Call::WaitWriteResult); }, 10s));
    fake->QueueInput({7});
    ASSERT_TRUE(port->Open(&owner, 3, 19200, 'N', 8, 1, EV_CTS, 512));
    fake->QueueInput({8});
    StartWorker();
    fake->QueueInput({9});
    port.reset();
    EXPECT_EQ(tap.log, "open 9600; sent 1 2 3; recv 7; recv 6; open 19200; recv 8; recv 9; ");
}

// A thousand runs, the last after the wall clock was set back an hour.
TEST_F(SerialPortFake, RunsAreStampedWhenReadAndTheControlLinesReadSeldom) {
    RecordingTap tap;
    port->SetTap(&tap);
    const auto start = std::chrono::steady_clock::now();
    OpenAndStart();
    for (size_t run = 1; run <= 1000; ++run) {
        tap.wallUs = run < 1000 ? 7'200'000'000 : 3'600'000'000;
        tap.steadyUs = static_cast<int64_t>(run);
        fake->QueueInput({1});
        ASSERT_TRUE(Pump([&] { return owner.notes.size() == run; }));
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(fake->CallCount(Call::GetModemLines), elapsed / 100ms + 2);
    port.reset();
    EXPECT_EQ(tap.records.back().at.wallUs, 3'600'000'000);
    EXPECT_EQ(tap.records.back().at.steadyUs, 1000);
}

TEST_F(SerialPortFake, RequestsOfAnyLengthAreWrittenWhole) {
    struct Row {
        const char* name;
        uint32_t bufferSize;
        size_t length;
    } rows[] = {
        {"LongerThanTheBuffer", 4, 600},
        {"EmptyBuffer", 0, 10},
        {"AbsurdBufferSize", 0xFFFFFFFFu, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(OpenPort(3, EV_RXCHAR | EV_CTS, row.bufferSize));
        EXPECT_EQ(port->GetBufferSize(), row.bufferSize);
        ASSERT_TRUE(port->StartWorker());
        std::vector<uint8_t> bytes(row.length);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
        const size_t writesBefore = fake->Writes().size();
        ASSERT_TRUE(Write(bytes));
        ASSERT_TRUE(fake->WaitFor(
            [&](const FakeComm& f) { return f.Writes().size() > writesBefore; }, 10s));
        EXPECT_EQ(fake->Writes().back(), bytes);
    }
}

TEST_F(SerialPortFake, OpenCompletesWhileTheWorkerWaitsInsideANotification) {
    OpenAndStart();
    fake->QueueInput({7});
    // The worker has posted the byte and waits; this thread has not
    // dispatched it and opens the port again instead.
    ASSERT_TRUE(owner.WaitForWake(10s));
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(port->WorkerExitCode(), kWorkerExitCode);
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RXCHAR, 7, 3}}));
}

TEST_F(SerialPortFake, OpenFromInsideANotificationHandlerCompletes) {
    OpenAndStart();
    bool reopened = false;
    owner.onNote = [&](const Note&) {
        if (!reopened) {
            reopened = true;
            EXPECT_TRUE(OpenPort(5));
            StartWorker();
        }
    };
    // The bytes after the first go over in the same run: the reopen lets
    // them go with the old device.
    fake->QueueInput({1, 9, 9, 9});
    ASSERT_TRUE(Pump([&] { return reopened; }));
    EXPECT_EQ(port->GetPortNumber(), 5);

    fake->QueueInput({2});
    ASSERT_TRUE(Pump([&] { return owner.notes.size() >= 2; }));
    EXPECT_EQ(owner.notes, (std::vector<Note>{{SPN_RXCHAR, 1, 3}, {SPN_RXCHAR, 2, 5}}));
}

TEST_F(SerialPortFake, ARunLongerThanOneDispatchGoesOnAtTheNextWakeUp) {
    // A handler slow enough that no single dispatch gets through the run:
    // every byte still arrives, in order, with no wake-up but the worker's
    // and the dispatcher's own.
    owner.onNote = [](const Note&) {
        const auto until = std::chrono::steady_clock::now() + 2us;
        while (std::chrono::steady_clock::now() < until) {
        }
    };
    OpenAndStart();
    std::vector<uint8_t> sent(20000);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7);
    fake->QueueInput(sent);
    ASSERT_TRUE(owner.PumpOnWakeOnly(*port, [&] { return owner.notes.size() >= sent.size(); }))
        << owner.notes.size() << " of " << sent.size();
    EXPECT_EQ(owner.ReceivedBytes(), sent);
}

TEST_F(SerialPortFake, DestructionCompletesWhileTheWorkerWaitsInsideAnErrorBox) {
    OpenAndStart();
    fake->FailOnce(Call::Write, EIO);
    ASSERT_TRUE(Write({1}));
    ASSERT_TRUE(owner.WaitForWake(10s));
    port.reset();
    ASSERT_EQ(owner.errors.size(), 1u);
    EXPECT_EQ(owner.errors[0].text, Expected("WriteFile()", EIO, 3));
}

TEST(SerialPortResources, OpensAndDestructionLeaveNoDeviceOrEventOpen) {
    std::map<Call, int> counts;
    std::mutex countsLock;
    auto owned = std::make_unique<FakeComm>();
    owned->SetCallHook([&](Call call) {
        std::lock_guard<std::mutex> guard(countsLock);
        ++counts[call];
    });
    FakeComm* fake = owned.get();
    SerialPortTestOwner owner;
    {
        SerialPort port(std::move(owned));
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(port.Open(&owner, 3, 9600, 'N', 8, 1, 9, 512));
            ASSERT_TRUE(port.StartWorker());
        }
        EXPECT_EQ(fake->OpenDeviceCount(), 1);
        EXPECT_EQ(fake->OpenEventCount(), 3);
    }
    std::lock_guard<std::mutex> guard(countsLock);
    EXPECT_EQ(counts[Call::OpenDevice], counts[Call::CloseDevice]);
    EXPECT_EQ(counts[Call::CreateEvent], counts[Call::CloseEvent]);
    EXPECT_EQ(counts[Call::StartThread], 200);
}

}  // namespace

namespace {

// Listen-only, RS-485 on the device or none: a listener lowers RTS and DTR (raised by the
// open) and writes nothing; in RS-485 mode only the driver moves RTS, the mode found at the
// open is read, a change is read back as the driver took it, and the device has its own mode
// again as it closes. A device without RS-485 still opens and says why.
TEST_F(SerialPortFake, ListenerAndRs485LeaveRtsAlone) {
    struct Row {
        const char* name;
        bool listenOnly, rs485;
        int lines;
    } const rows[] = {
        {"master", false, false, LINE_RTS | LINE_DTR},
        {"listener", true, false, 0},
        {"master on RS-485", false, true, LINE_RTS | LINE_DTR},
        {"listener on RS-485", true, true, LINE_RTS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto owned = std::make_unique<FakeComm>();
        FakeComm* comm = owned.get();
        auto line = std::make_unique<SerialPort>(std::move(owned));
        comm->SetModemLines(0);
        const Rs485Settings original{.enabled = true, .delayAfterSendMs = 3};
        if (row.rs485) comm->SetRs485(original);
        line->SetListenOnly(row.listenOnly);
        ASSERT_TRUE(line->Open(&owner, 3, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        ASSERT_TRUE(line->StartWorker());
        EXPECT_EQ(line->GetRs485().error, row.rs485 ? 0 : ENOTTY);
        EXPECT_TRUE(owner.errors.empty());
        EXPECT_EQ(comm->ModemLines() & (LINE_RTS | LINE_DTR), row.lines);
        const uint8_t byte = 1;
        EXPECT_EQ(line->RequestWrite(&byte, 1), !row.listenOnly);
        int error = 0;
        EXPECT_EQ(line->SetControlLine(LINE_RTS, false, error), !row.rs485);
        ASSERT_TRUE(line->Open(&owner, 3, 19200, 'E', 8, 1, EV_RXCHAR, 512));
        EXPECT_EQ(comm->RtsWhileRs485(), 0);
        EXPECT_TRUE(!row.listenOnly || comm->Writes().empty());
        if (!row.rs485) continue;
        EXPECT_EQ(line->GetRs485().settings, original);
        ASSERT_TRUE(line->SetRs485({.enabled = true, .delayBeforeSendMs = 300}, error));
        EXPECT_EQ(comm->Rs485().delayBeforeSendMs, 100u);
        EXPECT_EQ(line->GetRs485().settings.delayBeforeSendMs, 100u);
        Rs485Settings atClose;
        comm->SetCallHook([&atClose, comm](Call call) {
            if (call == Call::CloseDevice) atClose = comm->Rs485();
        });
        line.reset();
        EXPECT_EQ(atClose, original);
    }
}

}  // namespace
