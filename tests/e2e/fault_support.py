"""Shared pieces of the fault-injection tests (test_faults_origin.py,
test_faults_machine.py): an installed game to break, a launcher run that is timed and
whose peak memory is read from the host, and checks of what must stay intact.

The installed state every fault starts from: C:\\Quolva\\kova\\game.exe (the folder
name selects Kova, whose manifest and patch are on the download origin), patch 2
installed there (the stand-in java.exe and a few game files) and recorded as "2" in
the user's profile. The manifest then offers patch 3, which changes those files.
"""
import itertools
import json
import os
import subprocess
import tempfile
import time
from pathlib import Path

MANIFEST = "/download/checkpatch.txt"
KOVA_PATCH = "/gro/new/patch.zip"
BELU_PATCH = "/belu/patch.zip"
KOVA_CLASS = "com.brindlestudio.emberhollows.DesktopLauncher"
INSTALLED_LAUNCHER = "C:\\Quolva\\kova\\game.exe"

# httpGet's fixed limits: 4 attempts, a 30 s receive timeout, 500 ms pauses.
ATTEMPTS = 4
RECEIVE_TIMEOUT_SECONDS = 30
RETRY_PAUSE_SECONDS = 0.5
# A shared two-core machine: the bounds guard against hangs, they do not time the work.
SLACK_SECONDS = 45


def time_bound(receive_timeouts=0, pauses=2 * ATTEMPTS):
    """Longest a run may take: the receive timeouts it is expected to wait out, the
    retry pauses of both downloads, and slack for Wine and the machine."""
    return receive_timeouts * RECEIVE_TIMEOUT_SECONDS + pauses * RETRY_PAUSE_SECONDS + SLACK_SECONDS


def game_files(patch_number, java_bytes, game_id="kova"):
    """The files of patch N as {path below C:\\Quolva\\: bytes}."""
    return {
        f"{game_id}/pmzjre/bin/java.exe": java_bytes,
        f"{game_id}/pmzlib/{game_id}.jar": f"classes of {game_id}, patch {patch_number}\n".encode() * 400,
        f"{game_id}/javafx-sdk/lib/javafx.base.jar": f"javafx {patch_number}\n".encode() * 300,
        f"{game_id}/data/levels.dat": bytes((i * patch_number) % 251 for i in range(20000)),
    }


def manifest_text(number):
    return f"kova;{number}\r\nbelu;{number}\r\nstoneharbor;0\r\n"


def install_patch_on_disk(prefix, files, number, game_id="kova"):
    """Puts files below C:\\Quolva\\ and records the game's number, as a finished
    installation leaves them."""
    root = prefix.host_path("C:\\Quolva")
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    folder = prefix.user_dir / "Quolva"
    folder.mkdir(exist_ok=True)
    (folder / f"{game_id}.txt").write_bytes(str(number).encode())


def place_launcher(prefix, build_dir, windows_path=INSTALLED_LAUNCHER):
    path = prefix.host_path(windows_path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes((build_dir / "game.exe").read_bytes())
    return windows_path


def record(prefix, game_id="kova"):
    """Bytes of the user's version record for the game, None when there is none."""
    path = prefix.user_dir / "Quolva" / f"{game_id}.txt"
    return path.read_bytes() if path.exists() else None


def tree(folder):
    """{relative path with '/': bytes} of every file below folder."""
    folder = Path(folder)
    if not folder.is_dir():
        return {}
    return {p.relative_to(folder).as_posix(): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file()}


def leftovers(folder):
    """Files below folder that no finished installation leaves: replacement copies and
    the write probe."""
    return [p for p in tree(folder) if p.endswith(".patchnew") or p.endswith(".writetest.tmp")]


def assert_files(prefix, expected):
    """Every expected file below C:\\Quolva\\ holds exactly the expected bytes."""
    root = prefix.host_path("C:\\Quolva")
    found = tree(root)
    wrong = [name for name, data in expected.items() if found.get(name) != data]
    assert not wrong, f"files not as expected: {wrong}"


class JavaLog:
    """The launch log of the stand-in java.exe in a game folder below C:\\Quolva\\."""

    def __init__(self, prefix, game_folder="C:\\Quolva\\kova"):
        self.log = prefix.host_path(game_folder) / "pmzjre" / "bin" / "launch_log.jsonl"

    def starts(self):
        if not self.log.exists():
            return []
        lines = self.log.read_text(encoding="utf-8").splitlines()
        return [json.loads(line) for line in lines if line]

    def wait_starts(self, count, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if len(self.starts()) >= count:
                    break
            except ValueError:
                pass  # a line being appended
            time.sleep(0.05)
        return self.starts()


class MeasuredRun:
    """Outcome of a launcher run: exit code (None on timeout), seconds, and the peak
    resident memory of its process (KiB; the kernel's high-water mark, VmHWM)."""

    def __init__(self, returncode, seconds, peak_kb, stderr, virtual_peak_kb=None):
        self.returncode = returncode
        self.seconds = seconds
        self.peak_kb = peak_kb
        self.stderr = stderr
        # Address space at its largest (VmPeak) as last read while it ran; under Wine it
        # starts near 2 GB of reservations, so only its growth says anything.
        self.virtual_peak_kb = virtual_peak_kb

    @property
    def peak_mb(self):
        return (self.peak_kb or 0) / 1024.0

    def __repr__(self):
        return (f"MeasuredRun(returncode={self.returncode}, seconds={self.seconds:.1f}, "
                f"peak={self.peak_mb:.1f} MB, virtual peak={(self.virtual_peak_kb or 0) / 1024:.0f} MB, "
                f"stderr={self.stderr[-300:]!r})")


def _status_kb(pid, field):
    """A "kB" field of /proc/PID/status, None once the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


# Runs one program and reports its exit code and peak resident memory. The memory a
# process reports when it is reaped starts from the high-water mark of the process it
# was forked from, so the launcher is forked from this small interpreter, not from
# pytest, whose own memory would otherwise be counted as the launcher's.
_PEAK_RUNNER = r"""
import json, os, signal, sys
out, command = sys.argv[1], sys.argv[2:]
child = os.fork()
if child == 0:
    try:
        os.execvp(command[0], command)
    finally:
        os._exit(127)
def forward(signum, frame):
    try:
        os.kill(child, signal.SIGKILL)
    except ProcessLookupError:
        pass
signal.signal(signal.SIGTERM, forward)
with open(out + ".pid", "w") as f:
    f.write(str(child))
while True:
    try:
        _, status, usage = os.wait4(child, 0)
        break
    except InterruptedError:
        continue
code = os.waitstatus_to_exitcode(status)
with open(out + ".tmp", "w") as f:
    json.dump({"code": code, "peak_kb": usage.ru_maxrss}, f)
os.replace(out + ".tmp", out)
sys.exit(code & 255 if code >= 0 else 255)
"""

_runs = itertools.count(1)


class LauncherProcess:
    """A launcher started under Wine through the peak runner. `pid` is the host pid
    of the launcher's own process: `wine prog.exe` runs the program in the process it
    starts."""

    def __init__(self, popen, result_path, err_file):
        self.popen = popen
        self.result_path = Path(result_path)
        self.err_file = err_file
        self.started = time.monotonic()

    @property
    def pid(self):
        pid_file = Path(str(self.result_path) + ".pid")
        deadline = time.monotonic() + 10
        while not pid_file.exists() or not pid_file.read_text():
            if time.monotonic() > deadline:
                raise RuntimeError("the peak runner did not start the launcher")
            time.sleep(0.01)
        return int(pid_file.read_text())

    def poll(self):
        return self.popen.poll()

    def wait(self, timeout):
        """MeasuredRun; a launcher still running after `timeout` seconds is killed."""
        timed_out = False
        virtual = None
        pid = self.pid
        while self.popen.poll() is None:
            value = _status_kb(pid, "VmPeak")
            if value:
                virtual = max(virtual or 0, value)
            if time.monotonic() - self.started > timeout:
                timed_out = True
                self.popen.terminate()
                self.popen.wait()
                break
            time.sleep(0.02)
        seconds = time.monotonic() - self.started
        outcome = {}
        if self.result_path.exists():
            outcome = json.loads(self.result_path.read_text())
        self.err_file.seek(0)
        stderr = self.err_file.read().decode("utf-8", "replace")
        self.err_file.close()
        return MeasuredRun(None if timed_out else outcome.get("code"), seconds,
                           outcome.get("peak_kb"), stderr, virtual)


def start_launcher(prefix, windows_path, *args, env=None):
    """Starts the launcher under Wine (output in a file); returns a LauncherProcess,
    killed at teardown with the prefix's other processes."""
    full_env = prefix.env
    full_env.update(env or {})
    result_path = Path(tempfile.gettempdir()) / f"quolva-peak-{os.getpid()}-{next(_runs)}.json"
    for stale in (result_path, Path(str(result_path) + ".pid")):
        stale.unlink(missing_ok=True)
    err = tempfile.TemporaryFile()
    popen = subprocess.Popen(["/usr/bin/python3", "-c", _PEAK_RUNNER, str(result_path), "wine",
                              windows_path, *[str(a) for a in args]], env=full_env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    prefix._processes.append(popen)
    return LauncherProcess(popen, result_path, err)


def run_launcher(prefix, windows_path=INSTALLED_LAUNCHER, *args, timeout=300, env=None):
    return start_launcher(prefix, windows_path, *args, env=env).wait(timeout)


def register_toast_recorder(prefix, helper, log_path):
    """Registers the toast recorder (tests/support/README_notify.md) in the prefix;
    returns the environment that sends its toasts to log_path."""
    exe = helper("register_toast_recorder")
    result = prefix.run(exe, timeout=60)
    assert result.returncode == 0, result
    return {"QUOLVA_TOAST_LOG": prefix.win_path(log_path)}


def toasts(log_path):
    path = Path(log_path)
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]
