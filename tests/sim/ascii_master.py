"""Reads holding registers from a Modbus ASCII slave with pymodbus, a master
that this project did not write.

Usage: ascii_master.py <device path> <station> <address> <count>

Prints "registers v1 v2 ..." or "exception <code>", or "no reply".
"""
import logging
import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.pdu import ExceptionResponse
from pymodbus.transaction import ModbusAsciiFramer


def Main(device, station, address, count):
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    client = ModbusSerialClient(port=device, framer=ModbusAsciiFramer, baudrate=9600,
                                bytesize=8, parity="N", stopbits=1, timeout=2, retries=0)
    if not client.connect():
        print("cannot open " + device)
        return 2
    reply = client.read_holding_registers(address, count, slave=station)
    client.close()
    if isinstance(reply, ExceptionResponse):
        print("exception %d" % reply.exception_code)
    elif hasattr(reply, "registers"):
        print("registers " + " ".join(str(v) for v in reply.registers))
    else:
        print("no reply")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(Main(sys.argv[1], *(int(a) for a in sys.argv[2:])))
