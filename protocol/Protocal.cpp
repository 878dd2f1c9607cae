#include "protocol/Protocal.h"

Protocal::Protocal() : name("Protocal") {}

Protocal::~Protocal() = default;

int Protocal::Reset() { return 0; }

bool Protocal::Reserved() { return false; }

int Protocal::ReceiveByte(const uint8_t*) { return 1; }

void Protocal::BuildRequest(ModbusRequest*) {}
