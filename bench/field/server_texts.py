#!/usr/bin/env python3
"""Texts from a broken or hostile server against the real program, on loopback,
with the Telldus simulator: for each case the time from the call list's last
byte to the receiver switching on, then the time SIGTERM takes to end the
program while the server floods it.

Usage: bench/field/server_texts.py [--desktop] [--build DIR] [CASE ...]
  --desktop   the desktop program on the offscreen platform (default: --headless)
Cases (default all):
  error1m, error4m  "ERROR: " and 1 MB / 4 MB of text, a call list 0.5 s later
  name              a caller name holding "\xa4B:", then a list with a second caller
  refused           a call list and a refused version "1.10.3" in one read:
                    the receiver must stay off
  block, blockname  "#DATASTART#" without end (or in a caller's name), a call
                    1.3 s later: seconds until heard, then ms for later lists
"""
import argparse
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

A4 = b"\xa4"


def frame(tag, body):
    return A4 + tag + b":" + body + b":" + tag + A4


def call_list(*callers):
    return frame(b"CURRENTLIST", b"L\xe4kare:1:255:0:" + A4 + b"%" + b"".join(callers) + b"%" + A4)


def caller(name, coming=b"0~~"):
    return name + b"~7~2026-12-09 10:00:00~255~" + coming + b"~"


UNCONFIRMED = call_list(caller(b"Reception"))
CONFIRMED = call_list(caller(b"Reception", b"17~2026-12-09 10:01:00~Anna"))


def now_ms():
    return time.time() * 1000.0


class Rig:
    def __init__(self, build, desktop):
        self.work = tempfile.mkdtemp(prefix="quvo-texts.")
        inst = os.path.join(self.work, "inst")
        os.makedirs(inst)
        os.makedirs(os.path.join(self.work, "config", "Veltaris"))
        key = inst.replace("/", "_").replace(" ", "_")
        with open(os.path.join(self.work, "config", "Veltaris", key + ".ini"), "w") as f:
            f.write("[QUVO_HWClient]\nTellStickDevicename=Lampa\n")
        self.log = os.path.join(self.work, "telldus.log")
        self.lock = threading.Lock()
        self.conn = None
        self.connections = 0
        self.listed = threading.Event()
        self.version_answer = lambda: frame(b"RETSERVERVERSION", b"1.10.4")
        self.current = b""
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        threading.Thread(target=self.accept, daemon=True).start()
        env = dict(os.environ)
        for k in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(k, None)
        env.update(XDG_CONFIG_HOME=os.path.join(self.work, "config"), XDG_CONFIG_DIRS=os.path.join(self.work, "etc"),
                   XDG_DATA_HOME=os.path.join(self.work, "data"),
                   QUVO_TELLDUS_LIBRARY=os.path.join(build, "lib", "libtelldus-sim.so"),
                   TELLDUS_SIM_DEVICES="1:Lampa", TELLDUS_SIM_LOG=self.log)
        args = [os.path.join(build, "bin", "quvo-hwclient")]
        if desktop:
            env["QT_QPA_PLATFORM"] = "offscreen"
        else:
            env.pop("QT_QPA_PLATFORM", None)
            args.append("--headless")
        args += ["SERVERNAME=127.0.0.1", "SERVERPORT=%d" % self.listener.getsockname()[1]]
        self.stderr = open(os.path.join(self.work, "client.log"), "wb")
        self.proc = subprocess.Popen(args, cwd=inst, env=env, stderr=self.stderr, stdout=subprocess.DEVNULL)

    def accept(self):
        while True:
            try:
                c, _ = self.listener.accept()
            except OSError:
                return
            c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self.serve, args=(c,), daemon=True).start()

    def serve(self, c):
        got = b""
        while True:
            try:
                data = c.recv(65536)
            except OSError:
                return
            if not data:
                return
            got += data
            while True:
                start = got.find(A4)
                colon = got.find(b":", start + 1)
                if start < 0 or colon < 0:
                    break
                tag = got[start + 1:colon]
                end = got.find(b":" + tag + A4, colon)
                if end < 0:
                    break
                got = got[end + len(tag) + 2:]
                if tag == b"GETSERVERVERSION":
                    self.send(self.version_answer(), c)
                elif tag == b"GETINITEXT":
                    self.send(frame(b"RETINITEXT", b""), c)
                elif tag == b"GETCALLLIST":
                    # The main connection; the update check has one of its own.
                    with self.lock:
                        self.conn = c
                        self.connections += 1
                    if self.current:
                        self.send(self.current, c)
                elif tag == b"GETKLINIKNAMN":
                    self.send(frame(b"RETKLINIKNAMN", b"V\xe5rdcentralen"), c)
                    self.listed.set()

    # The time before the bytes went out: for a call list, a bound on when
    # its last byte did.
    def send(self, data, c=None):
        c = c or self.conn
        t = now_ms()
        try:
            c.sendall(data)
        except OSError:
            pass
        return t

    def switches(self):
        try:
            with open(self.log, "rb") as f:
                return [(float(l.split()[0]), l.split()[1].decode()) for l in f.read().splitlines() if l.strip()]
        except OSError:
            return []

    def wait_switch(self, what, after, limit_s):
        end = time.time() + limit_s
        while time.time() < end:
            for t, w in self.switches()[after:]:
                if w == what:
                    return t
            time.sleep(0.005)
        return None

    def ready(self):
        if not self.listed.wait(20):
            return False
        time.sleep(2)  # the device lookup
        return True

    def sigterm_under_flood(self):
        stop = threading.Event()

        def flood():
            self.send(b"ERROR: ")
            chunk = b"x" * 65536
            while not stop.is_set():
                try:
                    self.conn.sendall(chunk)
                except OSError:
                    return
        threading.Thread(target=flood, daemon=True).start()
        time.sleep(1)
        t0 = time.time()
        self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(10)
            took = "%.2f s (exit code %d)" % (time.time() - t0, code)
        except subprocess.TimeoutExpired:
            took = "not ended within 10 s"
            self.proc.kill()
        stop.set()
        return took

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.listener.close()


def run(case, build, desktop):
    rig = Rig(build, desktop)
    out = []
    try:
        if case == "refused":
            rig.version_answer = lambda: UNCONFIRMED + frame(b"RETSERVERVERSION", b"1.10.3")
            time.sleep(3)
            ons = [s for s in rig.switches() if s[1] == "ON"]
            out.append("receiver " + ("switched on" if ons else "stayed off") + " (3 s watched)")
            return out
        if not rig.ready():
            return ["no handshake (logs: %s)" % rig.work]
        before = len(rig.switches())
        if case in ("error1m", "error4m"):
            size = (1 if case == "error1m" else 4) * 1024 * 1024
            words = b"Databasen svarar inte " * (size // 22 + 1)
            rig.send(b"ERROR: " + words[:size])
            time.sleep(0.5)
            t0 = rig.send(UNCONFIRMED)
            on = rig.wait_switch("ON", before, 60)
            out.append("call list to ON: " + ("%.0f ms" % max(0.0, on - t0) if on else "not within 60 s"))
        elif case == "name":
            t0 = rig.send(call_list(caller(b"Anna " + A4 + b"B: Berg")))
            time.sleep(0.5)
            rig.send(call_list(caller(b"Anna " + A4 + b"B: Berg"), caller(b"Bo")))
            on = rig.wait_switch("ON", before, 10)
            out.append("first list to ON: " + ("%.0f ms" % max(0.0, on - t0) if on else "not within 10 s"))
        elif case in ("block", "blockname"):
            if case == "block":
                rig.send(b"#DATASTART#")
            else:
                rig.send(call_list(caller(b"Anna #DATASTART# Berg")))
            time.sleep(1.3)
            rig.current = UNCONFIRMED
            t0 = rig.send(UNCONFIRMED)
            on = rig.wait_switch("ON", before, 90)
            out.append("call 1.3 s after the block to ON: " + ("%.1f s" % ((on - t0) / 1000) if on else "not within 90 s")
                       + " (connections: %d)" % rig.connections)
            if on:
                for lst, what in ((CONFIRMED, "OFF"), (UNCONFIRMED, "ON"), (CONFIRMED, "OFF"), (UNCONFIRMED, "ON")):
                    n = len(rig.switches())
                    time.sleep(0.3)
                    t = rig.send(lst)
                    s = rig.wait_switch(what, n, 5)
                    out.append("later list to %s: %s" % (what, "%.0f ms" % max(0.0, s - t) if s else "not within 5 s"))
        out.append("SIGTERM under flood ended it in " + rig.sigterm_under_flood())
        return out
    finally:
        rig.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--desktop", action="store_true")
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build"))
    ap.add_argument("cases", nargs="*")
    a = ap.parse_args()
    cases = a.cases or ["error1m", "error4m", "name", "refused", "block", "blockname"]
    for case in cases:
        for line in run(case, os.path.abspath(a.build), a.desktop):
            print("%-10s %s %s" % (case, "desktop" if a.desktop else "headless", line), flush=True)


if __name__ == "__main__":
    sys.exit(main())
