"""The TLS recipes of the network guide, run with the stock tools against a station on
127.0.0.1: a local pty on another machine through socat, pyserial's socket:// through a local
stunnel, pyserial's rfc2217:// through a socat TLS tunnel, and the stunnel set-up of a Windows
PC (its COM port redirector then connects to the local end, as pyserial does here).

Usage: tls_recipes.py CERTS RAW_PORT RFC2217_PORT WORK
CERTS holds ca.pem and the client alice.pem/alice.key; WORK is a folder for the tunnels'
files. Prints one line per recipe, "NAME: ok" or "NAME: failed: ...", and exits 0 only when
every recipe was answered."""
import os
import socket
import subprocess
import sys
import time

import serial

ANSWER = b"10:+0001.234\r\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def listens(port):
    """True once something listens on port, seen in /proc: a probe connection would reach the
    station through the tunnel and hold its slot for a moment."""
    with open("/proc/net/tcp") as table:
        for row in table.readlines()[1:]:
            local, state = row.split()[1], row.split()[3]
            if state == "0A" and int(local.split(":")[1], 16) == port:
                return True
    return False


def ask(url, **options):
    """Opens url with pyserial, sends M1 and returns what came back within 10 s."""
    with serial.serial_for_url(url, timeout=10, **options) as port:
        port.write(b"M1\r")
        return port.read(len(ANSWER))


def stunnel_client(work, certs, local, station_port):
    """The client side of a stunnel tunnel: the same file a Windows PC uses (stunnel.conf)."""
    conf = os.path.join(work, "stunnel.conf")
    with open(conf, "w") as f:
        f.write(f"""foreground = yes
pid =
[station4-com]
client = yes
accept = 127.0.0.1:{local}
connect = 127.0.0.1:{station_port}
CAfile = {certs}/ca.pem
verifyChain = yes
checkIP = 127.0.0.1
cert = {certs}/alice.pem
key = {certs}/alice.key
""")
    return subprocess.Popen(["stunnel4", conf], stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(work, "stunnel.log"), "w"))


def socat_tls(local, station_port, certs):
    """A socat tunnel: a local TCP port to the station's TLS port."""
    return [f"TCP-LISTEN:{local},bind=127.0.0.1,reuseaddr,fork",
            f"OPENSSL:127.0.0.1:{station_port},cafile={certs}/ca.pem,"
            f"cert={certs}/alice.pem,key={certs}/alice.key"]


def main():
    certs, raw, rfc2217, work = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    os.makedirs(work, exist_ok=True)
    results = []

    def run(name, start, client, ready):
        tunnel = start()
        try:
            if not wait_until(ready):
                results.append(f"{name}: failed: the tunnel did not come up")
                return
            got = client()
            results.append(f"{name}: ok" if got == ANSWER else f"{name}: failed: got {got!r}")
        except Exception as error:  # a recipe that breaks is a failed recipe, said with why
            results.append(f"{name}: failed: {error}")
        finally:
            tunnel.terminate()
            tunnel.wait(10)

    link = os.path.join(work, "ttyStation4")
    run("a local pty through socat",
        lambda: subprocess.Popen(
            ["socat", f"pty,link={link},raw,echo=0",
             f"OPENSSL:127.0.0.1:{raw},cafile={certs}/ca.pem,cert={certs}/alice.pem,"
             f"key={certs}/alice.key"], stderr=subprocess.DEVNULL),
        lambda: ask(link), lambda: os.path.exists(link))

    local = free_port()
    run("pyserial socket:// through stunnel", lambda: stunnel_client(work, certs, local, raw),
        lambda: ask(f"socket://127.0.0.1:{local}"), lambda: listens(local))

    local = free_port()
    run("pyserial rfc2217:// through a socat tunnel",
        lambda: subprocess.Popen(["socat"] + socat_tls(local, rfc2217, certs),
                                 stderr=subprocess.DEVNULL),
        lambda: ask(f"rfc2217://127.0.0.1:{local}", baudrate=19200), lambda: listens(local))

    for line in results:
        print(line, flush=True)
    return 0 if all(line.endswith(": ok") for line in results) else 1


if __name__ == "__main__":
    sys.exit(main())
