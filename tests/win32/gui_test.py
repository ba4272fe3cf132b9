#!/usr/bin/env python3
"""Runs quillon.exe under Wine and Xvfb against a simulated board, as a user would.

    gui_test.py --exe quillon.exe --driver gui_driver.exe --sim quillon-sim
                --hex FILE.hex --out DIR [--unit test_win32_gui.exe]

A fresh Wine prefix is made in DIR; quillon-sim serves a dsPIC30F4013 on a
pseudo-terminal linked as COM3 and keeps the chip in DIR/state.txt.
gui_driver.exe plays the user: it selects COM3, clicks Connect, Detect,
Erase, Check, Write (answering the File Open dialog) and Read, toggles an
option, and ends the program from File > Exit and by closing the window while
an operation runs (both ask first). Then the window's protections: Tab and
Enter, blank kept words offered back (Yes, and No in Japanese), a long
failure text from a board that falls silent, a wrong part in the socket, a
close during a paced write, and the layout at 144 DPI. The script checks the
status texts, the registry, the Read output files, the simulated chip and
its wire trace, and saves screenshots in DIR: gui-startup.png, gui-write.png,
gui-japanese.png and one per protection (gui-restore-question.png,
gui-long-failure.png, gui-long-failure-end.png, gui-wrong-part.png, gui-close-question.png,
gui-japanese-*.png, gui-dpi144.png). With --unit, the in-process window
tests run first in the same prefix. Every wait is bounded.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEVICE = "dsPIC30F4013"
FAILURES = []


def log(text):
    print(text, flush=True)


def check(condition, what):
    log(("ok   " if condition else "FAIL ") + what)
    if not condition:
        FAILURES.append(what)
    return condition


class Session:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.prefix = os.path.join(self.out, "prefix")
        self.work = os.path.join(self.out, "work")
        self.state = os.path.join(self.out, "state.txt")
        self.locale = os.path.join(self.out, "locale")
        self.display = None
        self.xvfb = None
        self.sim = None
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8")
        self.env.pop("LC_ALL", None)

    # --- set-up -----------------------------------------------------------
    def prepare(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "hex"))
        subprocess.run([os.path.join(HERE, "wine-prefix.sh"), self.prefix], check=True, timeout=180)
        # The display comes first: the first windowed Wine program starts the
        # prefix's desktop, and one started without a display stays broken.
        self.start_xvfb()
        # The window's face name is mapped to the IPA font; with Managed=N Wine
        # draws the caption itself, since Xvfb has no window manager.
        reg = os.path.join(self.out, "setup.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n"
                    "\"\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af\"=\"IPAPGothic\"\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n\r\n")
        self.wine(["regedit", "/S", reg], timeout=60)
        self.start_sim()

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display

    def start_sim(self, device=DEVICE, state=None, extra=()):
        link = os.path.join(self.prefix, "dosdevices", "com3")
        self.sim = subprocess.Popen(
            [self.args.sim, "--device", device, "--state", state or self.state, "--link", link]
            + list(extra), stdout=subprocess.PIPE, text=True)
        tty = self.sim.stdout.readline().strip()
        if not tty.startswith("/dev/"):
            raise RuntimeError("quillon-sim did not serve a terminal")
        log("board: %s on %s as COM3 %s" % (device, tty, " ".join(extra)))

    def stop_sim(self):
        self.sim.send_signal(signal.SIGTERM)
        self.sim.wait(timeout=10)

    def restart_sim(self, **board):
        self.stop_sim()
        self.start_sim(**board)

    def japanese_env(self):
        """Wine's environment for a Japanese system, or None when no locale can be made."""
        os.makedirs(self.locale, exist_ok=True)
        made = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                               os.path.join(self.locale, "ja_JP.UTF-8")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if made.returncode not in (0, 1) or not os.path.isdir(os.path.join(self.locale, "ja_JP.UTF-8")):
            return None
        return dict(self.env, LANG="ja_JP.UTF-8", LOCPATH=self.locale)

    def stop(self):
        for process in (self.sim, self.xvfb):
            if process and process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=30)

    # --- running ----------------------------------------------------------
    def wine(self, argv, timeout, env=None):
        return subprocess.run(["wine"] + argv, env=env or self.env, cwd=self.work, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def start_gui(self, env=None):
        return subprocess.Popen(["wine", self.args.exe], env=env or self.env, cwd=self.work,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def drive(self, *steps, env=None):
        """Runs the driver; returns its output lines."""
        result = self.wine([self.args.driver] + list(steps), timeout=240, env=env)
        lines = result.stdout.splitlines()
        for line in lines:
            log("     " + line)
        check(result.returncode == 0, "driver: " + " ".join(steps))
        return lines

    def screenshot(self, name, whole=False):
        """The window, or with `whole` the screen (a question over the window)."""
        path = os.path.join(self.out, name)
        time.sleep(0.5)  # let the last paint reach the screen
        found = subprocess.run(["xdotool", "search", "--name", "^Quillon$"], env=self.env,
                               stdout=subprocess.PIPE, text=True, timeout=20).stdout.split()
        target = found[0] if found and not whole else "root"
        subprocess.run(["import", "-display", self.display, "-window", target, path],
                       env=self.env, timeout=30, check=True)
        log("     screenshot " + path)

    def wait_exit(self, process, what):
        try:
            code = process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            code = None
        check(code == 0, "%s ends the process with exit code 0 (got %s)" % (what, code))


def standin_executive(path):
    """pe.hex for the simulator: four NOPs at 0x800000 and the application ID
    0x00BB at 0x8005BE, the form of examples/executive/pe.hex."""
    def record(address, kind, data):
        raw = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + bytes(data)
        return ":%s%02X\r\n" % (raw.hex().upper(), -sum(raw) & 0xFF)
    with open(path, "w", newline="") as f:
        f.write(record(0, 4, [0x01, 0x00]))  # byte address 0x01000000 = program 0x800000
        f.write(record(0x0000, 0, [0] * 16))
        f.write(record(0x0B7C, 0, [0xBB, 0, 0, 0]))
        f.write(record(0, 1, []))


def statuses(lines):
    return [line[len("status: "):] for line in lines if line.startswith("status: ")]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def hex_program_words(path):
    """Program words (address -> 24-bit value) of a 16-bit part's Intel HEX file."""
    words, upper = {}, 0
    data = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line.startswith(":"):
                continue
            raw = bytes.fromhex(line[1:])
            count, offset, kind = raw[0], raw[1] << 8 | raw[2], raw[3]
            payload = raw[4:4 + count]
            if kind == 4:
                upper = payload[0] << 8 | payload[1]
            elif kind == 0:
                for i, byte in enumerate(payload):
                    data[(upper << 16) + offset + i] = byte
    for address in sorted(data):
        if address % 4 == 0 and address // 2 < 0x7F0000:  # program memory only
            value = data.get(address, 0xFF) | data.get(address + 1, 0xFF) << 8 | data.get(address + 2, 0xFF) << 16
            words[address // 2] = value
    return words


def state_program_words(path):
    words = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3 and parts[0] == "P":
                words[int(parts[1], 16)] = int(parts[2], 16)
    return words


def big_hex(path, words=0x2000):
    """A dsPIC30F program of `words` instructions from address 0, long enough
    that a paced write is still busy when the window is closed."""
    with open(path, "w", newline="") as f:
        for start in range(0, words * 4, 16):
            data = []
            for a in range(start, start + 16, 4):
                value = (a // 4 * 0x1357 + 0x0A0B) & 0xFFFFFF
                data += [value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF, 0]
            raw = bytes([16, start >> 8 & 0xFF, start & 0xFF, 0]) + bytes(data)
            f.write(":%s%02X\r\n" % (raw.hex().upper(), -sum(raw) & 0xFF))
        f.write(":00000001FF\r\n")


UNIT_ID = "X 8005C0 00ABCD"  # a dsPIC30F's first unit ID word, as the tests set it


def edit_state(path, add=(), drop=()):
    with open(path) as f:
        lines = [line.rstrip("\n") for line in f]
    lines = [line for line in lines if not any(line.startswith(d) for d in drop)] + list(add)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def state_lines(path):
    if not os.path.isfile(path):
        return []
    with open(path) as f:
        return [line.strip() for line in f]


def last_command(trace):
    """The first byte sent in the last exchange of a wire trace."""
    with open(trace) as f:
        exchanges = [line for line in f if line.startswith("#")]
    if not exchanges:
        return None
    sent = exchanges[-1].split(">", 1)[1].split("<", 1)[0].split()
    return sent[0].upper() if sent else None


def run_guards(session, args):
    """The window's protections: a kept copy offered back, a long failure
    text, a wrong part refused, a close during a paced write."""
    blink = os.path.join(session.work, "hex", "blink.hex")
    session.stop_sim()
    edit_state(session.state, add=[UNIT_ID], drop=["X 8005C0"])
    session.start_sim()
    gui = session.start_gui()
    # The keyboard: Tab reaches Detect, Enter presses it.
    lines = session.drive("click", "1001", "tab-to", "1003", "key", "enter", "wait-done", "status")
    check(statuses(lines)[-1:] and statuses(lines)[-1].startswith("Detecting Successful!"),
          "Tab moves to Detect and Enter presses it")
    # File, Option and Help open left to right; Option (4 items) is the
    # tallest, Help (2) the shortest.
    lines = session.drive("alt", "F", "alt", "O", "alt", "H")
    menus = [dict(field.split("=") for field in line.split()[1:])
             for line in lines if line.startswith("menu-open: ")]
    xs = [int(m["x"]) for m in menus]
    heights = [int(m["height"]) for m in menus]
    check(len(menus) == 3 and xs == sorted(set(xs)) and heights[1] > heights[0] > heights[2],
          "Alt and a letter open the File, Option and Help menus")
    lines = session.drive("click", "1004", "status")
    check(statuses(lines)[:1] and statuses(lines)[0].startswith("Erasing Successful!"), "Erase keeps a copy")
    check(UNIT_ID in state_lines(session.state), "the erase put the unit ID word back")

    # The words go blank behind the window's back; a copy is kept for them.
    session.stop_sim()
    edit_state(session.state, drop=["X 8005C0"])
    session.start_sim()
    lines = session.drive("write-start", windows_path(blink), "box")
    box = [line for line in lines if line.startswith("box: ")]
    check(box and "are blank" in box[0] and "Put the copy back" in box[0], "Write asks about the kept copy")
    session.screenshot("gui-restore-question.png", whole=True)
    lines = session.drive("answer", "yes", "wait-done", "status")
    check(statuses(lines)[:1] and statuses(lines)[0].startswith("Writing Successful!"), "Write goes on after Yes")
    check(UNIT_ID in state_lines(session.state), "Yes put the kept unit ID word back")

    # A board that falls silent near the end of a write: the whole failure
    # text, with the copy and the command that puts it back, can be read.
    trace = os.path.join(session.out, "write-trace.txt")
    session.restart_sim(extra=["--trace", trace])
    session.drive("write-start", windows_path(blink), "wait-done")
    with open(trace) as f:
        exchanges = sum(1 for line in f if line.startswith("#"))
    session.restart_sim(extra=["--silent-after", str(max(exchanges - 3, 1))])
    lines = session.drive("write-start", windows_path(blink), "wait-done", "status")
    session.screenshot("gui-long-failure.png")
    lines += session.drive("status-view", "scroll-end")
    session.screenshot("gui-long-failure-end.png")
    text = statuses(lines)[0] if statuses(lines) else ""
    check("restore-row" in text, "the failure text names the restore command")
    check("status-view: lines=" in "".join(lines) and any(
        line.startswith("status-view:") and ("bar=0" in line or "scrolls=1" in line) for line in lines),
        "the whole failure text can be scrolled to")

    # Another part in the socket: refused, and nothing done to it.
    other_state = os.path.join(session.out, "other-state.txt")
    session.restart_sim(device="dsPIC30F4011", state=other_state)
    lines = session.drive("write-start", windows_path(blink), "wait-done", "status", "layout")
    text = statuses(lines)[0] if statuses(lines) else ""
    check("dsPIC30F4011" in text and DEVICE in text, "a wrong part is refused, naming both")
    check(not [line for line in state_lines(other_state) if line.startswith("P ")],
          "the wrong part holds no program words")
    session.screenshot("gui-wrong-part.png")

    # Closed during a paced write: the write stops at a row boundary, the
    # part leaves programming mode, then the window goes.
    big = os.path.join(session.work, "hex", "big.hex")
    big_hex(big)
    # The failed write above left the words blank: they are put back first.
    trace = os.path.join(session.out, "close-trace.txt")
    session.stop_sim()
    edit_state(session.state, add=[UNIT_ID], drop=["X 8005C0"])
    session.start_sim(extra=["--pace", "--trace", trace])
    session.drive("write-start", windows_path(big), "wait-text", "Writing:Prg", "close", "box")
    session.screenshot("gui-close-question.png", whole=True)
    session.drive("answer", "yes")
    session.wait_exit(gui, "closing the window during a paced write")
    session.stop_sim()
    check(last_command(trace) == "20", "the part left programming mode last")
    written = hex_program_words(big)
    chip = state_program_words(session.state)
    done = [a for a, v in written.items() if chip.get(a) == v]
    odd = [a for a, v in written.items() if chip.get(a, 0xFFFFFF) not in (v, 0xFFFFFF)]
    check(not odd and 0 < len(done) < len(written),
          "the chip holds whole rows of the file and blank words (%d of %d written)" % (len(done), len(written)))
    check(UNIT_ID in state_lines(session.state), "the stopped write kept the unit ID word")
    session.start_sim()


def run_japanese_guards(session, env):
    # Blank words with a kept copy, answered No: the write goes on and the
    # copy's path and command stay on the status.
    session.stop_sim()
    edit_state(session.state, drop=["X 8005C0"])
    session.start_sim()
    gui = session.start_gui(env)
    blink = os.path.join(session.work, "hex", "blink.hex")
    session.drive("click", "1001", "write-start", windows_path(blink), "box", env=env)
    session.screenshot("gui-japanese-restore-question.png", whole=True)
    lines = session.drive("answer", "no", "wait-done", "status", env=env)
    text = statuses(lines)[0] if statuses(lines) else ""
    check(text.startswith("Writing 成功!") and "restore-row" in text, "No writes and leaves the copy's path")
    check(UNIT_ID not in state_lines(session.state), "No leaves the unit ID words blank")
    session.screenshot("gui-japanese-kept-copy-note.png")

    other_state = os.path.join(session.out, "other-state-ja.txt")
    session.restart_sim(device="dsPIC30F4011", state=other_state)
    lines = session.drive("write-start", windows_path(blink), "wait-done", "status", env=env)
    text = statuses(lines)[0] if statuses(lines) else ""
    check("dsPIC30F4011" in text and "ｿｹｯﾄ" in text, "Japanese refusal of a wrong part")
    session.screenshot("gui-japanese-wrong-part.png")
    session.restart_sim()
    session.drive("post", "1007", "wait-busy", "1007", "close", "box", env=env)
    session.screenshot("gui-japanese-close-question.png", whole=True)
    session.drive("answer", "yes", env=env)
    session.wait_exit(gui, "closing the Japanese window during a Read")


def run_high_dpi(session):
    session.wine(["reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                  "/d", "144", "/f"], timeout=60)
    gui = session.start_gui()
    lines = session.drive("window", "layout")
    session.screenshot("gui-dpi144.png")
    layout = [line for line in lines if line.startswith("layout: ")]
    fits = False
    if layout:
        fields = dict(part.split("=") for part in layout[0].split()[1:])
        fits = 245 < int(fields["bar-bottom"]) <= int(fields["client-bottom"])
    check(fits, "at 144 DPI the layout is scaled and the progress bar stays in view")
    session.drive("post", "1012")
    session.wait_exit(gui, "File > Exit at 144 DPI")


def run(session, args):
    if args.unit:
        result = session.wine([args.unit, "--gtest_brief=1"], timeout=240)
        log(result.stdout.strip())
        check(result.returncode == 0, "in-process window tests")

    # Start-up: the About text, the controls before Connect.
    gui = session.start_gui()
    lines = session.drive("window", "status", "enabled")
    check(statuses(lines)[:1] and statuses(lines)[0].startswith("Quillon Ver 1.9c | "), "About text at start-up")
    check("enabled: 1000=1 1001=1 1002=0 1003=0 1004=0 1005=0 1006=0 1007=0" in lines, "start-up control states")
    session.screenshot("gui-startup.png")

    # Connect and the five operations.
    # Erasing a dsPIC30F takes its executive with it; Enhanced ICSP then loads
    # pe.hex from the starting directory.
    examples = os.path.join(os.path.dirname(args.hex), "executive", "pe.hex")
    if os.path.isfile(examples):
        shutil.copy(examples, os.path.join(session.work, "pe.hex"))
    else:
        standin_executive(os.path.join(session.work, "pe.hex"))
    hex_file = os.path.join(session.work, "hex", "blink.hex")
    shutil.copy(args.hex, hex_file)
    lines = session.drive("com", "3", "click", "1001", "status", "enabled",
                          "click", "1003", "status", "click", "1004", "status", "click", "1005", "status",
                          "post", "1014", "post", "1014", "cancel-write", "status", "enabled",
                          "write", windows_path(hex_file), "status", "enabled")
    seen = statuses(lines)
    expected = ["connected! | firmware=1.2", "Detecting Successful!", "Erasing Successful!",
                "Checking Successful!", "Checking Successful!", "Writing Successful!"]
    for i, text in enumerate(expected):
        check(len(seen) > i and seen[i].startswith(text), "status after step %d starts %r" % (i + 1, text))
    after_op = "enabled: 1000=0 1001=0 1002=1 1003=1 1004=1 1005=1 1006=1 1007=1"
    check(lines.count(after_op) == 3, "controls after Connect, a cancelled Write and a Write")
    session.screenshot("gui-write.png")

    lines = session.drive("click", "1007", "status")
    check(statuses(lines)[:1] and statuses(lines)[0].startswith("Reading Successful!"), "Read succeeds")
    for name in ("$Quill$.txt", "$Quill$.hex"):
        check(os.path.isfile(os.path.join(session.work, name)), name + " in the starting directory")
        check(not os.path.exists(os.path.join(session.work, "hex", name)), name + " not beside the HEX file")
    if os.path.isfile(os.path.join(session.work, "$Quill$.hex")):
        written = hex_program_words(args.hex)
        read = hex_program_words(os.path.join(session.work, "$Quill$.hex"))
        check(all(read.get(a) == v for a, v in written.items()), "Read returns the written program words")

    query = session.wine(["reg", "query", "HKCU\\Software\\Quillon"], timeout=60).stdout
    check("COM3" in query, "registry COM = COM3")
    check(DEVICE in query, "registry CHIP = " + DEVICE)

    # File > Exit while a Read runs.
    lines = session.drive("post", "1007", "wait-busy", "1007", "post", "1012", "box", "answer", "yes")
    check(any(line.startswith("box: An operation is running") for line in lines), "File > Exit asks first")
    session.wait_exit(gui, "File > Exit during a Read")

    if os.path.isfile(session.state):
        written = hex_program_words(args.hex)
        chip = state_program_words(session.state)
        wrong = [a for a, v in written.items() if chip.get(a, 0xFFFFFF) != v]
        check(not wrong, "the simulated chip holds the %d written program words" % len(written))
    else:
        check(False, "the simulator kept a state file")

    run_guards(session, args)

    # A Japanese system: the stored port comes back, messages are Japanese.
    # The board is started afresh (the abandoned Read left it mid-reply) and
    # the chip comes back from its state file.
    session.restart_sim()
    env = session.japanese_env()
    if env is None:
        log("SKIP Japanese run: no ja_JP.UTF-8 locale could be made (localedef)")
    else:
        run_japanese(session, env)
    run_high_dpi(session)


def run_japanese(session, env):
    gui = session.start_gui(env)
    lines = session.drive("window", "click", "1001", "click", "1003", "status", env=env)
    seen = statuses(lines)
    check(len(seen) == 1 and seen[0].startswith("Detecting 成功!"), "Japanese Detect message with COM3 restored")
    session.screenshot("gui-japanese.png")
    session.drive("post", "1007", "wait-busy", "1007", "close", "box", "answer", "yes", env=env)
    session.wait_exit(gui, "closing the window during a Read")
    run_japanese_guards(session, env)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("exe", "driver", "sim", "hex", "out"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--unit")
    args = parser.parse_args()
    if args.unit:
        args.unit = os.path.abspath(args.unit)
    for name in ("exe", "driver", "sim", "hex"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    session = Session(args)
    started = time.monotonic()
    try:
        session.prepare()
        run(session, args)
    finally:
        session.stop()
    log("GUI test: %d failure(s) in %.0f s" % (len(FAILURES), time.monotonic() - started))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
