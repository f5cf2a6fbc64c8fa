#!/usr/bin/python3
"""A private network namespace for one test run, so the fixed origin ports of the test
build (18443, 18444) are this run's own even while another run on the machine holds
them.

The namespace has only a loopback interface, brought up here. Everything that must meet
on those ports has to start inside it: the origin servers, and the wineserver of every
prefix the run uses (Wine creates Winsock sockets in the wineserver process, so a
wineserver started outside keeps talking to the outer loopback).

From Python (pytest_configure):  netns.isolate() -> True when the process moved into a
fresh namespace; False (and no change) when the kernel refuses, or QUOLVA_NETNS=0.
As a command:  netns.py COMMAND [ARG...]   runs COMMAND inside a fresh namespace (for
CTest runs whose fixtures start servers on fixed ports).
"""
import ctypes
import fcntl
import os
import socket
import struct
import sys

_CLONE_NEWNET = 0x40000000
_SIOCGIFFLAGS = 0x8913
_SIOCSIFFLAGS = 0x8914
_IFF_UP = 0x1

_isolated = False


def _loopback_up():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH", b"lo", 0)
        flags = struct.unpack("16sH", fcntl.ioctl(s, _SIOCGIFFLAGS, request)[:18])[1]
        fcntl.ioctl(s, _SIOCSIFFLAGS, struct.pack("16sH", b"lo", flags | _IFF_UP))


def isolate():
    """Moves this process (and what it starts from now on) into a new network
    namespace with loopback up. Call it before any thread or child is started."""
    global _isolated
    if _isolated:
        return True
    if os.environ.get("QUOLVA_NETNS", "1") == "0":
        return False
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(_CLONE_NEWNET) != 0:
        return False
    _loopback_up()
    _isolated = True
    os.environ["QUOLVA_NETNS_ACTIVE"] = "1"
    return True


def is_isolated():
    return _isolated


def main(argv):
    if not argv:
        sys.exit("usage: netns.py COMMAND [ARG...]")
    if not isolate() and os.environ.get("QUOLVA_NETNS", "1") != "0":
        print("netns.py: no private network namespace here; running in the shared one",
              file=sys.stderr)
    os.execvp(argv[0], argv)


if __name__ == "__main__":
    main(sys.argv[1:])
