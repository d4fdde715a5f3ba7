"""An independent Modbus TCP client: reads one register again and again
through snbusd and counts every answer that is not its value.
pymodbusReader.py PORT UNIT ADDRESS EXPECTED COUNT"""
import sys

from pymodbus.client import ModbusTcpClient


def main():
    port, unit, address, expected, count = (int(a) for a in sys.argv[1:6])
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=5)
    if not client.connect():
        print("cannot connect", file=sys.stderr)
        return 1
    wrong = failed = 0
    for _ in range(count):
        answer = client.read_holding_registers(address, 1, slave=unit)
        if answer.isError():
            failed += 1
        elif answer.registers[0] != expected:
            wrong += 1
    client.close()
    print(f"register {address}: {count} reads, {wrong} wrong, {failed} failed")
    return 0 if wrong == 0 and failed == 0 else 1


sys.exit(main())
