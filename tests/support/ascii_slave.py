"""A Modbus ASCII slave on a serial device, for the framing tests.

Usage: ascii_slave.py <device path>

Serves station 1 with the same register map as the RTU slave fixture and
prints "ready" on its own line once the device is open and served. Ends when
its standard input closes, so that it never outlives the test that runs it.
"""
import asyncio
import logging
import os
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncSerialServer
from pymodbus.transaction import ModbusAsciiFramer

# Keep in step with SlaveMap.h.
MAP_SIZE = 16
COILS = [1 if i % 3 == 0 else 0 for i in range(MAP_SIZE)]
DISCRETE_INPUTS = [1 if i % 2 == 1 else 0 for i in range(MAP_SIZE)]
HOLDING_REGISTERS = [123 + i for i in range(MAP_SIZE)]
INPUT_REGISTERS = [1000 + i for i in range(MAP_SIZE)]


async def Serve(device):
    # pymodbus logs every exception reply and its own shutdown as errors.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    store = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, COILS),
        di=ModbusSequentialDataBlock(0, DISCRETE_INPUTS),
        hr=ModbusSequentialDataBlock(0, HOLDING_REGISTERS),
        ir=ModbusSequentialDataBlock(0, INPUT_REGISTERS),
        zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)
    server = await StartAsyncSerialServer(
        context=context, framer=ModbusAsciiFramer, port=device,
        baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=0,
        defer_start=True)
    await server.start()
    if server.transport is None:
        print("cannot open " + device, file=sys.stderr, flush=True)
        sys.exit(2)
    print("ready", flush=True)
    done = asyncio.Event()
    loop = asyncio.get_running_loop()

    def OnInput():
        if not os.read(sys.stdin.fileno(), 4096):
            done.set()

    loop.add_reader(sys.stdin.fileno(), OnInput)
    await done.wait()
    await server.shutdown()


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: ascii_slave.py <device>", file=sys.stderr)
        sys.exit(2)
    try:
        asyncio.run(Serve(sys.argv[1]))
    except KeyboardInterrupt:
        pass
