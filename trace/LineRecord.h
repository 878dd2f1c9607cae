// One line and its record, put together in one place for every program that
// records a line (the window, the recorder): the serial engine on a comm
// layer, the trace it taps, and the sinks the trace feeds (a capture, the
// frame list). Declared so that the engine stops first and the trace ends
// what is open into the sinks after it; the sinks outlive the record.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "serial/CommLayer.h"
#include "serial/SerialPort.h"
#include "trace/LineTrace.h"

class LineRecord {
public:
    // Null: the operating system's comm layer. `traceQueue`: what may wait
    // for the trace before it drops bytes (LineTrace).
    explicit LineRecord(std::unique_ptr<CommLayer> comm = nullptr,
                        size_t traceQueue = LineTrace::kQueueLimit);
    // The engine's worker stops, then the trace hands what it holds to the sinks.
    ~LineRecord();
    LineRecord(const LineRecord&) = delete;
    LineRecord& operator=(const LineRecord&) = delete;

    SerialPort& Port() const { return *port; }

    // Starts the trace with `sinks` (nulls skipped) and taps the engine with
    // it, across opens. Once: a later call changes nothing. Bytes the trace
    // has to drop are told to every sink (FrameSink::Lost).
    void Record(const std::vector<FrameSink*>& sinks);
    bool Recording() const { return trace != nullptr; }

    // Opens COM<portNumber> with these settings and starts the worker; false,
    // nothing running, when either fails.
    bool Open(SerialPortOwner* owner, int32_t portNumber, uint32_t baudRate, char parityLetter,
              uint32_t dataBits, uint32_t stopBits, uint32_t eventMask, uint32_t writeBufferSize);

    // The line's device went away, or is back (a row for the frame list, a
    // gap for the capture); nothing while not recording.
    void Note(FrameKind lostOrBack);

private:
    const size_t traceQueue;
    std::vector<FrameSink*> sinks;
    std::unique_ptr<LineTrace> trace;
    // Declared last and reset first: its worker delivers into the trace.
    std::unique_ptr<SerialPort> port;
};
