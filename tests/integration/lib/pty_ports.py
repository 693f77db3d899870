#!/usr/bin/env python3
"""Serial ports for the Wine GUI tests: one pseudo-terminal per name, held open until this
process ends. usage: pty_ports.py OUT NAME[:held]...
Writes "NAME /dev/pts/N" lines to OUT once every port is ready. A port marked ":held" has
its device opened here exclusively (TIOCEXCL), like a port another program uses: an open
by a process without CAP_SYS_ADMIN then fails with EBUSY."""
import fcntl
import os
import signal
import sys
import termios
import time


def main():
    out, args = sys.argv[1], sys.argv[2:]
    keep = []
    lines = []
    for arg in args:
        name, _, mode = arg.partition(":")
        master, slave = os.openpty()
        path = os.ttyname(slave)
        keep.append(master)
        if mode == "held":
            fcntl.ioctl(slave, termios.TIOCEXCL)
            keep.append(slave)
        else:
            os.close(slave)
        lines.append(f"{name} {path}\n")
    tmp = out + ".tmp"
    with open(tmp, "w") as f:
        f.writelines(lines)
    os.rename(tmp, out)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
