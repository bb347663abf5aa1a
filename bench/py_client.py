#!/usr/bin/env python3
"""Reference clients for the link benchmark: what a user would write instead.

usage: py_client.py serial|raw <device> <count>
Runs <count> transactions of "set SPI0CS0DATA=02XXXX" then "get SPI0CS0DATA"
and prints one line: rate (transactions/s), median and 99th-percentile round
trip in microseconds.
"""

import os
import sys
import time
import tty


def run(transact, count):
    times = []
    start = time.perf_counter()
    for i in range(count):
        t0 = time.perf_counter()
        transact(b"set SPI0CS0DATA=02%04X\n" % (i & 0xFFFF))
        transact(b"get SPI0CS0DATA\n")
        times.append(time.perf_counter() - t0)
    total = time.perf_counter() - start
    times.sort()
    print("%.1f %.1f %.1f" % (count / total, times[len(times) // 2] * 1e6,
                              times[min(len(times) - 1, int(len(times) * 0.99))] * 1e6))


def serial_client(device, count):
    import serial
    port = serial.Serial(device, 115200, timeout=1)

    def transact(line):
        port.write(line)
        answer = port.readline()
        if not answer.endswith(b"\n") or b"err" in answer:
            raise SystemExit("bad answer %r" % answer)

    run(transact, count)


def raw_client(device, count):
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    pending = bytearray()

    def transact(line):
        os.write(fd, line)
        while b"\n" not in pending:
            pending.extend(os.read(fd, 4096))
        end = pending.index(b"\n") + 1
        answer = bytes(pending[:end])
        del pending[:end]
        if b"err" in answer:
            raise SystemExit("bad answer %r" % answer)

    run(transact, count)


if __name__ == "__main__":
    mode, device, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    (serial_client if mode == "serial" else raw_client)(device, count)
