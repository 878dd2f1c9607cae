// The register map that both test slaves serve (station 1), so that a test
// knows every value a read must return. ascii_slave.py holds the same map.
#pragma once

#include <cstdint>

namespace SlaveMap {

constexpr int station = 1;
constexpr int size = 16;  // coils, discrete inputs, holding and input registers each

constexpr uint8_t Coil(int i) { return i % 3 == 0 ? 1 : 0; }
constexpr uint8_t DiscreteInput(int i) { return i % 2 == 1 ? 1 : 0; }
constexpr uint16_t HoldingRegister(int i) { return static_cast<uint16_t>(123 + i); }
constexpr uint16_t InputRegister(int i) { return static_cast<uint16_t>(1000 + i); }

}  // namespace SlaveMap
