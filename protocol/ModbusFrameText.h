// What a Modbus frame says, in a line of the frames window: its station, its
// function, and its content read by the function's layout.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct ModbusFrameText {
    int station = -1;   // -1: too short to name one
    int function = -1;  // as on the line, 0x80 set for an exception
    std::string says;   // UTF-8
};

// `adu`: station, function and data, without the check bytes (an ASCII
// frame's digit pairs already decoded). `reply`: the frame answers a request;
// `request` is then that request's ADU (without check) when known, else empty.
// `says`, one line:
//   requests      地址 0 数量 10 | 地址 3 ON | 地址 3 值 1234 | 地址 0 数量 2 值 1000 1001
//   read replies  [0] 1000 1001, or 1 0 1 1 for coils (first coil first); the
//                 bracketed start address and the cut to the quantity need the request
//   write echoes  写入 地址 3 值 1234 | 写入 地址 0 数量 10
//   exceptions    异常 02 非法数据地址
//   the others    诊断 00 返回询问数据 数据 a5 37 | 读 地址 3 数量 6 写 地址 14 数量 3 值 …
//                 | 厂商 = Talvenor; 产品代码 = TV-1 | 地址 4 与 0x00F2 或 0x0025 | …
//   otherwise     the bytes after the function code: 00 0a ff
ModbusFrameText DescribeModbusFrame(std::span<const uint8_t> adu, bool reply,
                                    std::span<const uint8_t> request);

// An exception code as the frames window says it: 异常 02 非法数据地址.
std::string ModbusExceptionText(uint8_t code);
