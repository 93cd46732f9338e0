"""The simulated camera's syslog daemon: log_sink.py SOCKET FILE [SPEED [LOGDIR]]

Receives the datagrams of syslog(3) on SOCKET (the camera's /dev/log) and appends each message
to FILE as "time level [pid]: text", at once, so that a session can be followed while it runs.
Given LOGDIR, each line also goes where the camera keeps it: error.log (errors and worse),
warning.log or info.log (the rest) in LOGDIR.
Warnings and worse are also written to standard output, over the status line on a terminal.
The C library stamps a message with the host's clock even in a process whose clock runs SPEED
times as fast, so the time is that of a clock started with the first message at that speed.
"""
import re
import socket
import sys
import time

LEVELS = ["emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"]
MESSAGE = re.compile(r"<(\d+)>(\w{3} [ \d]\d \d\d:\d\d:\d\d) ?(.*)", re.S)
clear = "\r\033[K" if sys.stdout.isatty() else ""
speed = float(sys.argv[3]) if len(sys.argv) > 3 else 1.0
started = None
kept = {}
if len(sys.argv) > 4:
    for name in ("error", "warning", "info"):
        kept[name] = open(f"{sys.argv[4]}/{name}.log", "w", buffering=1, encoding="utf-8")


def stamp(original):
    global started
    if speed == 1:
        return original
    now = time.time()
    started = started or now
    return time.strftime("%b %e %H:%M:%S", time.localtime(started + (now - started) * speed))


sink = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sink.bind(sys.argv[1])
with open(sys.argv[2], "a", buffering=1, encoding="utf-8", errors="replace") as log:
    while True:
        datagram = sink.recv(65536).decode("utf-8", "replace")
        match = MESSAGE.match(datagram)
        if match is None:
            log.write(datagram.rstrip("\n") + "\n")
            continue
        level = int(match[1]) & 7
        line = "%s %-7s %s" % (stamp(match[2]), LEVELS[level], match[3].rstrip("\n"))
        log.write(line + "\n")
        if kept:
            kept["error" if level <= 3 else "warning" if level == 4 else "info"].write(line + "\n")
        if level <= 4:
            sys.stdout.write(clear + line + "\n")
            sys.stdout.flush()
