#!/usr/bin/env python3
"""pyserial's own network clients against the program's network ports, run by the tests.

network_client_check.py URL COMMAND ANSWER
    rfc2217://127.0.0.1:N: sets 9600 7E1, DTR and RTS, reads CTS, DSR and CD back, purges,
    then asks COMMAND and expects ANSWER. socket://127.0.0.1:N: only the question.
Prints "ok" and exits 0, or says what failed and exits 1.
"""
import sys

import serial


def check(url, command, answer):
    port = serial.serial_for_url(url, baudrate=9600, bytesize=7, parity="E", timeout=5)
    try:
        if url.startswith("rfc2217://"):
            port.dtr = True
            port.rts = False
            port.rts = True
            lines = (port.cts, port.dsr, port.cd)
            if lines != (True, True, True):
                return "CTS, DSR, CD are %s" % (lines,)
            port.baudrate = 19200
            port.reset_input_buffer()
        port.write(command.encode("latin-1"))
        got = port.read(len(answer)).decode("latin-1")
        if got != answer:
            return "asked %r, got %r" % (command, got)
        return None
    finally:
        port.close()


def main():
    url, command, answer = sys.argv[1:4]
    command = command.replace("\\r", "\r")
    answer = answer.replace("\\r", "\r").replace("\\n", "\n")
    failure = check(url, command, answer)
    if failure:
        print("%s: %s" % (url, failure))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
