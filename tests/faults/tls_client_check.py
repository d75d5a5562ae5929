"""A TLS client of a network port: connects to 127.0.0.1:PORT, verifies the station against
CA, shows a client certificate when given, sends a command and expects its answer.

Prints "ok" when the answer came, "refused: ..." when the connection failed or ended first.
With --rfc2217 it speaks telnet with the COM port option first: it agrees to the option,
sets the baud rate and expects it back. With --release FILE it stays connected after "ok"
until FILE exists (30 s at most), so that the test can look at the program meanwhile, then
sends the command once more and prints "ok" again when it is answered. With --server NAME the
station's certificate must have the common name NAME."""
import argparse
import os
import socket
import ssl
import struct
import sys
import time

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COM_PORT, SET_BAUDRATE = 44, 1


def answered(got, first, answer):
    """True when got holds first and, after it, answer."""
    at = got.find(first)
    return at >= 0 and (first == answer or answer in got[at + len(first):])


def receive(tls, first, answer):
    """Reads until first and then answer came; False, said, when the station closed first."""
    got = b""
    while not answered(got, first, answer):
        chunk = tls.recv(4096)
        if not chunk:
            print("refused: closed after %r" % got)
            return False
        got += chunk
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("ca")
    parser.add_argument("command")
    parser.add_argument("answer")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--rfc2217", action="store_true")
    parser.add_argument("--release")
    parser.add_argument("--server")
    args = parser.parse_args()
    command = args.command.encode().decode("unicode_escape").encode("latin-1")
    answer = args.answer.encode().decode("unicode_escape").encode("latin-1")
    context = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=args.ca)
    if args.cert:
        context.load_cert_chain(args.cert, args.key)
    want = answer
    with socket.create_connection(("127.0.0.1", args.port), timeout=10) as raw:
        try:
            with context.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
                if args.server:
                    subject = dict(item[0] for item in tls.getpeercert()["subject"])
                    if subject.get("commonName") != args.server:
                        print("refused: the station is %s" % subject.get("commonName"))
                        return
                if args.rfc2217:
                    baud = struct.pack(">I", 19200)
                    tls.sendall(bytes([IAC, WILL, COM_PORT, IAC, SB, COM_PORT, SET_BAUDRATE])
                                + baud + bytes([IAC, SE]))
                    want = bytes([IAC, SB, COM_PORT, 100 + SET_BAUDRATE]) + baud + bytes([IAC, SE])
                tls.sendall(command)
                if not receive(tls, want, answer):
                    return
                print("ok", flush=True)
                if args.release:
                    deadline = time.monotonic() + 30
                    while not os.path.exists(args.release) and time.monotonic() < deadline:
                        time.sleep(0.05)
                    tls.sendall(command)
                    if receive(tls, answer, answer):
                        print("ok", flush=True)
        except (ssl.SSLError, OSError) as error:
            print("refused: %s" % error)


if __name__ == "__main__":
    sys.exit(main())
