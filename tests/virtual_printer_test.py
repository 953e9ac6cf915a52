#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# The virtual printer's behaviours, driven as a test of a printer application would drive
# it: streams sent over loopback, buttons on its standard input, its lines read back.
# Usage: virtual_printer_test.py PRINTER VIEWER
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

PRINTER, VIEWER = sys.argv[1], sys.argv[2]
TIMEOUT = 20


def block(height=40, copies=1, speed=4, rows=2, mode=None, tail=None):
    """One block as the filter writes it (mode: the OFFSET to SET TEAR lines' values)."""
    offset, peel, cutter, partial, tear = mode or ("0.000", "OFF", "OFF", "OFF", "ON")
    text = (f"SIZE 60mm,{height}mm\r\nGAP 0.120,0.000\r\nSPEED {speed}\r\nDENSITY 7\r\n"
            f"DIRECTION 0,0\r\nREFERENCE 0,0\r\nOFFSET {offset}\r\nSHIFT 0\r\n"
            f"SET PEEL {peel}\r\nSET CUTTER {cutter}\r\nSET PARTIAL_CUTTER {partial}\r\n"
            f"SET TEAR {tear}\r\nCLS\r\nBITMAP 8,8,2,{rows},1,").encode()
    image = bytes([0x0F, 0xF0] * rows)
    return text + image + (tail if tail is not None else f"\r\nPRINT 1,{copies}\r\n".encode())


class Printer:
    """The program on a free port, with its lines kept as they come."""

    def __init__(self, *args):
        self.dir = tempfile.mkdtemp(prefix="strobane-vp.")
        self.out = os.path.join(self.dir, "out")
        self.proc = subprocess.Popen(
            [PRINTER, "--port", "0", "-o", self.out, *args], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines, self.log = queue.Queue(), []
        threading.Thread(target=self._read, daemon=True).start()
        self.port = int(self.expect("listening ").rsplit(":", 1)[1])

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def expect(self, prefix, timeout=TIMEOUT):
        """Wait for the next line that begins with prefix and return it."""
        end = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0, end - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"no line \"{prefix}...\" in {timeout} s; lines: {self.log}")
            self.log.append(line)
            if line.startswith(prefix):
                return line

    def quiet(self, prefix, seconds):
        """Check that no line begins with prefix for that long."""
        try:
            line = self.expect(prefix, seconds)
        except AssertionError:
            return
        raise AssertionError(f"unexpected \"{line}\"")

    def press(self, *words):
        for word in words:
            self.proc.stdin.write(word + "\n")
            self.proc.stdin.flush()
            self.expect("state ")

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=TIMEOUT)

    def status(self, connection=None):
        c = connection or self.connect()
        c.sendall(b"\x1b!?")
        answer = c.recv(1)
        if not connection:
            c.close()
        return answer[0]

    def send(self, data):
        with self.connect() as c:
            c.sendall(data)

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            self.proc.wait(5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def field(line, name):
    return next(word.split("=", 1)[1] for word in line.split() if word.startswith(name + "="))


RELEASE = ["close", "clear", "load", "ribbon-in", "resume", "cover-close", "cool"]


def test_status_byte_for_each_state_and_combination():
    cases = [
        ([], 0x00, "ready"), (["open"], 0x01, "head-opened"), (["jam"], 0x02, "paper-jam"),
        (["load 0"], 0x04, "out-of-paper"), (["ribbon-out"], 0x08, "out-of-ribbon"),
        (["pause"], 0x10, "paused"), (["cover-open"], 0x40, "cover-opened"),
        (["hot"], 0x80, "temperature"),
        (["open", "jam", "load 0"], 0x07, "head-opened paper-jam out-of-paper"),
        (["pause", "cover-open", "hot", "ribbon-out"], 0xD8,
         "out-of-ribbon paused cover-opened temperature"),
        (["open", "close", "jam", "clear", "load 0", "load 5"], 0x00, "ready"),
    ]
    p = Printer()
    try:
        for buttons, byte, names in cases:
            p.press(*RELEASE, *buttons, "status")
            state = p.log[-1]
            assert state.startswith(f"state 0x{byte:02x} {names} "), (buttons, state)
            got = p.status()
            assert got == byte, f"{buttons}: status 0x{got:02x}, expected 0x{byte:02x}"
        # Paused with a label waiting: paused and printing, and nothing comes out.
        p.press(*RELEASE, "pause")
        with p.connect() as c:
            c.sendall(block())
            assert p.status(c) == 0x30
        p.quiet("label ", 0.5)
        p.press("resume")
        p.expect("label 1 ")
        assert p.status() == 0x00
    finally:
        p.close()


def test_roll_runs_out_in_a_batch_and_the_rest_prints_after_a_reload():
    p = Printer("--labels", "3", "--time-scale", "0.01")
    try:
        with p.connect() as c:
            c.sendall(block(copies=5))
            for n in range(1, 4):
                assert field(p.expect("label "), "copy") == f"{n}/5"
            assert p.expect("state ").startswith("state 0x24 out-of-paper printing labels=0 "
                                                 "queued=2")
            assert p.status(c) == 0x24
        p.quiet("label ", 0.3)
        p.press("load 10")
        for n in range(4, 6):
            line = p.expect("label ")
            assert line.startswith(f"label {n} ") and field(line, "copy") == f"{n}/5", line
        assert p.status() == 0x00
        assert sorted(os.listdir(p.out)) == [f"label-{n}.png" for n in range(1, 6)]
        p.press("status")
        assert " labels=8 queued=0" in p.log[-1], p.log[-1]
    finally:
        p.close()


def test_labels_take_their_length_at_their_speed_and_an_error_reprints_the_one_it_stopped():
    # 152 mm and a 3.048 mm gap at 2 in/s: 3.05 s, here 0.61 s.
    p = Printer("--time-scale", "0.2")
    try:
        p.send(block(height=152, speed=2, copies=3))
        first = float(field(p.expect("label 1 "), "time"))
        p.press("open")
        p.quiet("label ", 1.0)
        p.press("close")
        second = float(field(p.expect("label 2 "), "time"))
        third = float(field(p.expect("label 3 "), "time"))
        assert second - first >= 1.6 and third - second >= 0.6, (first, second, third)
        assert p.status() == 0x00
        p.quiet("label ", 0.2)
    finally:
        p.close()


def test_a_full_buffer_stalls_the_sender_until_labels_come_out():
    blocks, rows = 40, 16000  # 40 blocks of 32 KiB: 1.25 MiB beside a buffer of 64 KiB
    p = Printer("--buffer", "64K", "--time-scale", "0")
    sent = [0]
    try:
        p.press("pause")
        c = p.connect()
        c.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 16384)
        data = block(rows=rows) * blocks

        def send():
            for at in range(0, len(data), 4096):
                c.sendall(data[at:at + 4096])
                sent[0] = at + 4096
            c.shutdown(socket.SHUT_WR)

        sender = threading.Thread(target=send, daemon=True)
        sender.start()
        time.sleep(1.0)
        stalled = sent[0]
        assert sender.is_alive() and stalled < len(data), f"{stalled} of {len(data)} bytes taken"
        p.press("resume")
        sender.join(TIMEOUT)
        assert not sender.is_alive(), f"the sender still stalls at {sent[0]} bytes"
        p.expect(f"label {blocks} ")
        if not any(line.startswith("disconnected ") for line in p.log):
            p.expect("disconnected ")
        assert f"disconnected 1 bytes={len(data)}" in p.log, p.log[-3:]
        c.close()
    finally:
        p.close()


def test_malformed_streams_are_reported_as_the_viewer_reports_them():
    good = block()
    cases = [
        ("a wrong line", good[:30] + b"SPEEX 4\r\n"),
        ("PRINT with sets", good.replace(b"PRINT 1,", b"PRINT 2,")),
        ("cut in its BITMAP", good[:good.index(b"BITMAP") + 20]),
    ]
    p = Printer()
    try:
        for name, stream in cases:
            with p.connect() as c:
                c.sendall(stream)
                c.shutdown(socket.SHUT_WR)
                assert c.recv(1) == b"", f"{name}: the connection stays open"
            line = p.expect("malformed ")
            view = subprocess.run([VIEWER, "--check"], input=stream, capture_output=True)
            message = view.stderr.decode().strip().removeprefix("strobane-view: ")
            assert line == "malformed " + message, f"{name}: {line} / {message}"
        p.send(good)
        p.expect("label 1 ")
    finally:
        p.close()


def test_a_second_connection_waits_for_the_first():
    p = Printer("--time-scale", "0")
    try:
        first = p.connect()
        p.expect("connected 1 ")
        whole = block(height=50)
        first.sendall(whole[:100])
        with p.connect() as second:
            second.sendall(block(height=70))
            second.shutdown(socket.SHUT_WR)
            p.quiet("connected 2 ", 0.5)
            first.sendall(whole[100:])
            first.close()
            p.expect("label 2 ")
        events = [line.split(" ", 2)[:2] for line in p.log]
        assert events.index(["disconnected", "1"]) < events.index(["connected", "2"]), p.log
        sizes = [field(line, "size") for line in p.log if line.startswith("label ")]
        assert sizes == ["60x50mm", "60x70mm"], p.log
    finally:
        p.close()


def test_device_lines_and_label_modes():
    p = Printer("--labels", "10", "--time-scale", "0")
    try:
        p.press("pause")
        p.send(block() + b"FORMFEED\r\nSOUND 5,200\r\nGAPDETECT\r\nBLINEDETECT\r\nHOME\r\n"
               b"\x1b!R" + block(height=30, mode=("-0.050", "ON", "1", "OFF", "OFF")))
        assert p.expect("sound ") == "sound level=5 interval=200"
        assert p.expect("ignored ") == 'ignored "HOME"'
        assert p.expect("ignored ") == 'ignored "\\x1b!R"'
        p.press("resume")
        printed = [p.expect(kind) for kind in ("label 1 ", "feed ", "calibrate ", "calibrate ",
                                               "label 2 ")]
        assert [field(line, "sensor") for line in printed[2:4]] == ["gap", "black-mark"], printed
        assert " offset=0.000 peel=OFF cutter=OFF partial-cutter=OFF tear=ON " in printed[0]
        assert field(printed[1], "size") == "60x40mm"
        assert " size=60x30mm " in printed[4]
        assert " offset=-0.050 peel=ON cutter=1 partial-cutter=OFF tear=OFF " in printed[4]
        p.press("status")
        assert " labels=7 queued=0" in p.log[-1], p.log[-1]
    finally:
        p.close()


def test_command_line():
    for args, status, message in [(["--dpi", "250"], 2, "--dpi needs 203 or 300"),
                                  (["--time-scale", "-1"], 2, "--time-scale needs a number"),
                                  (["--listen", "192.0.2.1"], 1, "cannot listen on 192.0.2.1")]:
        run = subprocess.run([PRINTER, "--port", "0", *args], capture_output=True, text=True,
                             timeout=TIMEOUT, stdin=subprocess.DEVNULL)
        assert run.returncode == status and message in run.stderr, (args, run)


def main():
    tests = [(name, test) for name, test in globals().items() if name.startswith("test_")]
    failed = 0
    for name, test in tests:
        try:
            test()
            print(f"PASS {name}")
        except Exception as error:  # noqa: BLE001 - each failure is reported and counted
            failed += 1
            print(f"FAIL {name}: {error!r}")
    print(f"{len(tests) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
