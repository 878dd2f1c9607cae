#include "trace/LineRecord.h"

#include <utility>

#include "serial/SystemComm.h"

LineRecord::LineRecord(std::unique_ptr<CommLayer> comm, size_t queue)
    : traceQueue(queue),
      port(std::make_unique<SerialPort>(comm ? std::move(comm) : CreateSystemComm())) {}

LineRecord::~LineRecord() {
    port.reset();
    trace.reset();
}

void LineRecord::Record(const std::vector<FrameSink*>& wanted) {
    if (trace) return;
    for (FrameSink* sink : wanted)
        if (sink) sinks.push_back(sink);
    trace = std::make_unique<LineTrace>(LineStamp::Now, traceQueue);
    for (FrameSink* sink : sinks) trace->AddSink(sink);
    trace->OnLost([this](uint64_t bytes) {
        for (FrameSink* sink : sinks) sink->Lost(bytes);
    });
    port->SetTap(trace.get());
}

bool LineRecord::Open(SerialPortOwner* owner, int32_t portNumber, uint32_t baudRate,
                      char parityLetter, uint32_t dataBits, uint32_t stopBits, uint32_t eventMask,
                      uint32_t writeBufferSize) {
    // A worker that cannot start would leave an open line that never
    // receives or sends: that is a failed open too.
    return port->Open(owner, portNumber, baudRate, parityLetter, dataBits, stopBits, eventMask,
                      writeBufferSize) &&
           port->StartWorker();
}

void LineRecord::Note(FrameKind lostOrBack) {
    if (trace) trace->Note(lostOrBack);
}
