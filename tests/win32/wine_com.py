#!/usr/bin/env python3
"""Runs a Windows program under Wine with a COM port wired to a terminal.

    wine_com.py --prefix PREFIX --port N [--tty TTY] [--fresh] -- PROGRAM [ARGS...]

Without --tty a pseudo-terminal is made, linked as COM<N> of PREFIX, and its
master end plays a scripted board for the serial port tests (see Peer). With
--tty the given terminal (for example one served by quillon-sim) is linked
instead and nothing plays on it. The prefix is made with wine-prefix.sh when
missing or with --fresh. The program sees QUILLON_TEST_COM=COM<N> and
QUILLON_TEST_MISSING_COM naming a port that is not linked; a PROGRAM ending
in .exe is started with wine. Exits with the program's status.
"""

import argparse
import os
import select
import subprocess
import sys
import threading
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))


class Peer:
    """The board's side of the serial port tests, on the pty master.

    Requests (first byte): 0x1E answers 01 02; 'G' sends A1, waits 80 ms,
    sends A2; 'T' sends 01 to 06 six ms apart; 'E' lo hi + that many bytes
    echoes the bytes; 'J' sends DE AD after 100 ms. Anything else: silence.
    """

    def __init__(self, master):
        self.master = master
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def start(self):
        self.thread.start()

    def close(self):
        self.stop.set()
        self.thread.join(timeout=2)

    def receive(self, n, timeout=2.0):
        data = b""
        end = time.monotonic() + timeout
        while len(data) < n and not self.stop.is_set():
            left = end - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.master], [], [], min(left, 0.1))
            if not ready:
                continue
            try:
                chunk = os.read(self.master, n - len(data))
            except OSError:
                # No slave end open at the moment: wait for the next open.
                time.sleep(0.01)
                continue
            data += chunk
        return data

    def send(self, data):
        os.write(self.master, bytes(data))

    def run(self):
        while not self.stop.is_set():
            request = self.receive(1, timeout=0.2)
            if not request:
                continue
            op = request[0]
            if op == 0x1E:
                self.send([0x01, 0x02])
            elif op == ord("G"):
                self.send([0xA1])
                time.sleep(0.08)
                self.send([0xA2])
            elif op == ord("T"):
                for b in range(1, 7):
                    self.send([b])
                    time.sleep(0.006)
            elif op == ord("E"):
                length = self.receive(2)
                if len(length) == 2:
                    self.send(self.receive(length[0] | length[1] << 8))
            elif op == ord("J"):
                time.sleep(0.1)
                self.send([0xDE, 0xAD])


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--port", type=int, required=True, help="COM port number, 1 to 9")
    parser.add_argument("--tty", help="link this terminal instead of playing a peer")
    parser.add_argument("--fresh", action="store_true", help="always make a new prefix")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no program given")
    prefix = os.path.abspath(args.prefix)

    if args.fresh or not os.path.isdir(os.path.join(prefix, "dosdevices")):
        subprocess.run([os.path.join(HERE, "wine-prefix.sh"), prefix], check=True)
    else:
        # Make sure the server is a quiet one (see wine-prefix.sh); a no-op
        # when one is running already.
        subprocess.run(["wineserver", "-p60"], env=wine_env(prefix), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    peer = None
    fds = []
    if args.tty:
        tty_name = args.tty
    else:
        master, slave = os.openpty()
        fds = [master, slave]
        # Holding the slave end open keeps the master usable between the
        # program's opens; raw, so nothing is echoed before the port is set up.
        tty.setraw(slave)
        tty_name = os.ttyname(slave)
        peer = Peer(master)

    link = os.path.join(prefix, "dosdevices", "com%d" % args.port)
    subprocess.run([os.path.join(HERE, "link-com.sh"), prefix, str(args.port), tty_name], check=True)
    missing = next(n for n in range(9, 0, -1)
                   if n != args.port and not os.path.lexists(
                       os.path.join(prefix, "dosdevices", "com%d" % n)))

    env = wine_env(prefix)
    env["QUILLON_TEST_COM"] = "COM%d" % args.port
    env["QUILLON_TEST_MISSING_COM"] = "COM%d" % missing
    if command[0].lower().endswith(".exe"):
        command = ["wine"] + command
    try:
        if peer:
            peer.start()
        status = subprocess.run(command, env=env).returncode
    finally:
        if peer:
            peer.close()
        if os.path.islink(link) and os.readlink(link) == tty_name:
            os.unlink(link)
        for fd in fds:
            os.close(fd)
    return status


if __name__ == "__main__":
    sys.exit(main())
