#include "serial/SystemComm.h"

#include "serial/PosixComm.h"
#include "serial/SerialPort.h"

std::unique_ptr<CommLayer> CreateSystemComm() { return std::make_unique<PosixComm>(); }

// Kept apart from the engine's logic so that programs which inject their own
// comm layer do not link the system's.
SerialPort::SerialPort() : SerialPort(CreateSystemComm()) {}
