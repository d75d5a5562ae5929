#!/usr/bin/env python3
"""A Linux serial client of the simulated ports, run by the tests with and without velk-client.

serial_client_check.py port PATH COMMAND ANSWER
    pyserial on a port: opened at 7E1 (and the frame read back), DTR and RTS set and read
    back, CTS, DSR and DCD on, 7E1 and 7E2 kept, a request answered. One line per step; exit status 0 when every step passed.
serial_client_check.py others PATH
    The outcome of modem and frame calls on descriptors that are not ports (a pseudo-terminal,
    its master, a pipe, a file, the port's descriptor number reused by another
    pseudo-terminal), one line each: the same with and without the layer.
"""
import errno
import fcntl
import os
import signal
import struct
import sys
import tempfile
import termios
import time

import serial

TIOCMIWAIT = 0x545C
TIOCGICOUNT = 0x545D
TIOCSERGETLSR = 0x5459
FRAME = termios.CSIZE | termios.PARENB | termios.PARODD | termios.CSTOPB


def modem_bits(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.TIOCMGET, struct.pack("i", 0)))[0]


def check_port(path, command, answer):
    failures = 0

    def step(name, passed, detail=""):
        nonlocal failures
        print(("ok " if passed else "FAIL ") + name + (" " + detail if detail else ""))
        failures += 0 if passed else 1

    try:
        s = serial.Serial(path, bytesize=7, parity="E", stopbits=1, timeout=5)
    except (OSError, serial.SerialException) as error:
        step("open-7E1", False, str(error))
        return 1
    opened = termios.tcgetattr(s.fd)[2] & FRAME
    step("open-frame", opened == termios.CS7 | termios.PARENB, "cflag frame 0o%o" % opened)
    s.reset_input_buffer()
    for dtr, rts in ((True, True), (True, False), (False, True), (False, False), (True, True)):
        try:
            s.dtr, s.rts = dtr, rts
            bits = modem_bits(s.fd)
        except OSError as error:
            step("lines", False, str(error))
            break
        want = (termios.TIOCM_DTR if dtr else 0) | (termios.TIOCM_RTS if rts else 0)
        inputs = s.cts and s.dsr and s.cd and not s.ri
        step("lines", bits & (termios.TIOCM_DTR | termios.TIOCM_RTS) == want and inputs,
             "dtr=%s rts=%s bits=0x%x" % (dtr, rts, bits))
    for stopbits, frame in ((1, termios.CS7 | termios.PARENB),
                            (2, termios.CS7 | termios.PARENB | termios.CSTOPB)):
        try:
            s.stopbits = stopbits
            got = termios.tcgetattr(s.fd)[2] & FRAME
        except (OSError, termios.error, serial.SerialException) as error:
            step("frame", False, str(error))
            continue
        step("frame", got == frame, "7E%d cflag frame 0o%o" % (stopbits, got))
    step("line-counts", outcome(lambda: fcntl.ioctl(s.fd, TIOCGICOUNT, bytes(80))) == repr(bytes(80)))
    step("output-empty", outcome(lambda: fcntl.ioctl(s.fd, TIOCSERGETLSR, bytes(4))) ==
         repr(struct.pack("i", 1)))
    # No line changes: the wait lasts until a signal ends it.
    class Interrupted(Exception):
        pass

    def interrupt(*_):
        raise Interrupted()

    signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    started = time.monotonic()
    try:
        waited = outcome(lambda: fcntl.ioctl(s.fd, TIOCMIWAIT, termios.TIOCM_CTS | termios.TIOCM_CD))
    except Interrupted:
        waited = "interrupted"
    step("line-wait", waited == "interrupted" and time.monotonic() - started > 0.25, waited)
    s.write(command.encode() + b"\r")
    got = s.read_until(b"\n")
    step("request", got == answer.encode() + b"\r\n", repr(got))
    s.close()
    return 1 if failures else 0


def outcome(call):
    try:
        return "%r" % (call(),)
    except (OSError, termios.error) as error:
        return errno.errorcode.get(error.args[0], str(error.args[0]))


def calls(fd):
    def set_frame():
        attrs = termios.tcgetattr(fd)
        attrs[2] = (attrs[2] & ~FRAME) | termios.CS7 | termios.PARENB
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
        return termios.tcgetattr(fd)[2] & FRAME

    return (
        ("TIOCMGET", lambda: modem_bits(fd)),
        ("TIOCMBIS", lambda: fcntl.ioctl(fd, termios.TIOCMBIS, struct.pack("i", termios.TIOCM_DTR))),
        ("TIOCGICOUNT", lambda: len(fcntl.ioctl(fd, TIOCGICOUNT, bytes(80)))),
        ("TIOCSERGETLSR", lambda: fcntl.ioctl(fd, TIOCSERGETLSR, struct.pack("i", 0))),
        ("tcsetattr-7E1", set_frame),
    )


def report_others(path):
    master, slave = os.openpty()
    read_end, write_end = os.pipe()
    plain = tempfile.TemporaryFile()
    # Descriptor numbers that were the port's, with its lines set: reused after a close, and
    # replaced by dup2 while open.
    def port_with_dtr():
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        outcome(lambda: fcntl.ioctl(fd, termios.TIOCMBIS, struct.pack("i", termios.TIOCM_DTR)))
        return fd

    other_master, other_slave = os.openpty()
    closed = port_with_dtr()
    os.close(closed)
    os.dup2(other_slave, closed)
    replaced = port_with_dtr()
    os.dup2(other_slave, replaced)
    kinds = (("pty-slave", slave), ("pty-master", master), ("pipe", write_end),
             ("file", plain.fileno()), ("reused-number", closed), ("dup2-onto-port", replaced))
    for kind, fd in kinds:
        for name, call in calls(fd):
            print(kind, name, outcome(call))
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "port":
        sys.exit(check_port(*sys.argv[2:]))
    if len(sys.argv) == 3 and sys.argv[1] == "others":
        sys.exit(report_others(sys.argv[2]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
