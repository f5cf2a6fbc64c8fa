"""Loopback origins for the patching unit tests, as a CTest fixture.

    origins.py start DIR   starts three servers that share DIR/routes.json and DIR/log.jsonl:
                           HTTPS with the trusted test certificate, plain HTTP, and HTTPS
                           with a certificate from the untrusted CA
    origins.py stop DIR    stops them

The test CA comes from QUOLVA_PKI_DIR (pki.py writes it there; the unit prefix must trust
its ca.der). Ports: QUOLVA_PATCHING_PORTS="https,http,untrusted" or 28443,28080,28444.
"""
import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "support", "origin_server.py")
PKI = os.path.join(HERE, "..", "..", "support", "pki.py")


def ports():
    text = os.environ.get("QUOLVA_PATCHING_PORTS", "28443,28080,28444")
    return [int(p) for p in text.split(",")]


def start(folder):
    pki = os.environ.get("QUOLVA_PKI_DIR")
    if not pki:
        print("origins.py: QUOLVA_PKI_DIR is not set (the test CA the unit prefix trusts)",
              file=sys.stderr)
        return 1
    stop(folder)
    subprocess.run([sys.executable, PKI, pki], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(os.path.join(folder, "root"), exist_ok=True)
    with open(os.path.join(folder, "routes.json"), "w") as f:
        json.dump({}, f)
    open(os.path.join(folder, "log.jsonl"), "w").close()
    https, http, untrusted = ports()
    servers = [
        ("https", https, ["--tls-cert", f"{pki}/localhost.pem", "--tls-key", f"{pki}/localhost.key"]),
        ("http", http, []),
        ("untrusted", untrusted, ["--tls-cert", f"{pki}/untrusted-localhost.pem",
                                  "--tls-key", f"{pki}/untrusted-localhost.key"]),
    ]
    for name, port, tls in servers:
        rc = subprocess.run([sys.executable, SERVER, "--port", str(port), *tls,
                             "--root", os.path.join(folder, "root"),
                             "--routes", os.path.join(folder, "routes.json"),
                             "--log", os.path.join(folder, "log.jsonl"),
                             "--pidfile", os.path.join(folder, f"{name}.pid"),
                             "--daemon", "--max-seconds", "900"]).returncode
        if rc != 0:
            print(f"origins.py: the {name} origin on port {port} did not start", file=sys.stderr)
            stop(folder)
            return 1
    return 0


def stop(folder):
    # The servers remove their pid files on the way out; waiting for that is quicker than
    # polling a detached process that nobody reaps.
    pidfiles = [os.path.join(folder, f"{name}.pid") for name in ("https", "http", "untrusted")]
    for pidfile in pidfiles:
        try:
            with open(pidfile) as f:
                os.kill(int(f.read().strip()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
    deadline = time.monotonic() + 5
    while any(os.path.exists(p) for p in pidfiles) and time.monotonic() < deadline:
        time.sleep(0.05)
    for pidfile in pidfiles:
        if os.path.exists(pidfile):
            os.remove(pidfile)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(start(sys.argv[2]) if sys.argv[1] == "start" else stop(sys.argv[2]))
