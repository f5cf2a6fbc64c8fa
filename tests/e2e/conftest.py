"""End-to-end fixtures: Wine prefixes that trust the test CA, an X display, the two
HTTPS origins and the Windows helper programs. tests/support/README.md describes them.

Cost per test: a fresh prefix is a hard-linked copy of the session's base prefix
(a fraction of a second); the first Wine start in it also starts its wineserver
(about a second), later starts take about 0.3 s.
"""
import fcntl
import itertools
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))

import netns  # noqa: E402
import pki as pki_module  # noqa: E402
from origin_server import OriginServer  # noqa: E402

WINE_PREFIX_SCRIPT = REPO / "scripts" / "wine-prefix"
DOWNLOAD_PORT = 18443
STORAGE_PORT = 18444
PORT_LOCK = "/tmp/quolva-origin-ports.lock"
PORT_WAIT_SECONDS = float(os.environ.get("QUOLVA_PORT_WAIT_SECONDS", "120"))

_BASE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono/Gecko installer dialogs, and no host menu entries for shortcuts.
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
_prefix_numbers = itertools.count(1)


def pytest_configure(config):
    """Gives the run a loopback of its own (tests/support/netns.py), so the fixed ports
    18443 and 18444 never meet another run's servers; QUOLVA_NETNS=0 turns it off."""
    netns.isolate()
    # A run ended from outside (timeout, CI cancel) still tears its fixtures down, so no
    # prefix, wineserver or Xvfb of it is left behind.
    signal.signal(signal.SIGTERM, _interrupt)


def _interrupt(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


def _kill_pid(pid, grace=2.0):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline:
        try:
            if os.waitpid(pid, os.WNOHANG)[0] == pid:
                return
        except ChildProcessError:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


class RunResult:
    """Outcome of one program run under Wine. `returncode` is None when it timed out
    (the process was then killed)."""

    def __init__(self, returncode, stdout, stderr, seconds):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.seconds = seconds

    @property
    def timed_out(self):
        return self.returncode is None

    def __repr__(self):
        return (f"RunResult(returncode={self.returncode}, seconds={self.seconds:.2f}, "
                f"stdout={self.stdout[-300:]!r}, stderr={self.stderr[-300:]!r})")


class WinePrefix:
    """One Wine prefix and the processes started in it.

    Windows paths map to host paths: "C:\\..." lies under <prefix>/drive_c, "Z:\\..." is
    the host root. Wine finds files case-insensitively, so host_path() does too."""

    def __init__(self, path, display=None):
        self.path = Path(path)
        self.display = display
        self._processes = []

    # -- environment and paths ------------------------------------------------------
    @property
    def env(self):
        env = dict(os.environ)
        env.update(_BASE_ENV)
        env["WINEPREFIX"] = str(self.path)
        env.pop("WINEARCH", None)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def user_dir(self):
        """Host path of C:\\users\\<user> (the user Wine made the prefix for)."""
        users = [p for p in (self.drive_c / "users").iterdir() if p.name != "Public" and p.is_dir()]
        return users[0]

    @property
    def user_dir_win(self):
        return "C:\\users\\" + self.user_dir.name

    def host_path(self, windows_path):
        """Host path for a Windows path in this prefix (C:\\ or Z:\\)."""
        text = str(windows_path).replace("/", "\\")
        drive, rest = text[:2].upper(), text[2:].lstrip("\\")
        if drive == "Z:":
            base = Path("/")
        elif drive == "C:":
            base = self.drive_c
        else:
            raise ValueError(f"no host path for {windows_path}")
        path = base
        for part in [p for p in rest.split("\\") if p]:
            exact = path / part
            if not exact.exists() and path.is_dir():
                match = [c for c in path.iterdir() if c.name.lower() == part.lower()]
                exact = match[0] if match else exact
            path = exact
        return path

    def win_path(self, host_path):
        """Windows path for a host path: C:\\... inside drive_c, Z:\\... elsewhere."""
        path = Path(os.path.abspath(host_path))
        try:
            relative = path.relative_to(self.drive_c)
            return "C:\\" + "\\".join(relative.parts)
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    # -- processes ------------------------------------------------------------------
    def _command(self, exe, args):
        exe = str(exe)
        if exe.startswith("/"):
            exe = self.win_path(exe)
        return ["wine", exe, *[str(a) for a in args]]

    def start(self, exe, *args, cwd=None, env=None):
        """Starts exe (host or Windows path) under Wine without waiting; returns the
        Popen (stdout/stderr piped). Killed at teardown if still running."""
        full_env = self.env
        full_env.update(env or {})
        process = subprocess.Popen(self._command(exe, args), env=full_env, cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self._processes.append(process)
        return process

    def run(self, exe, *args, timeout=60, cwd=None, env=None):
        """Runs exe under Wine and waits up to `timeout` seconds. `wine prog.exe`
        returns the Windows exit code modulo 256, also for GUI-subsystem programs
        (wine waits for them). On timeout the process is killed and returncode is None.

        Output goes to files, and the wait is for the process, not for the end of its
        output: a program Wine starts from it (the game a launcher starts) inherits
        the unix stderr and may keep it open long after the program ended."""
        started = time.monotonic()
        full_env = self.env
        full_env.update(env or {})
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            process = subprocess.Popen(self._command(exe, args), env=full_env, cwd=cwd,
                                       stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file)
            self._processes.append(process)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                _kill_pid(process.pid, grace=0.5)
                process.wait()
                code = None
            out_file.seek(0)
            err_file.seek(0)
            out, err = out_file.read(), err_file.read()
        return RunResult(code, out.decode("utf-8", "replace"), err.decode("utf-8", "replace"),
                         time.monotonic() - started)

    def wait_server(self, timeout=30):
        """Waits until every Wine process of this prefix has ended (`wineserver -w`);
        False when they are still running after `timeout` seconds."""
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout, check=False)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        """Stops everything started in this prefix: our processes by pid, then the
        prefix's own wineserver (`wineserver -k`, which ends the Windows processes that
        programs started themselves)."""
        for process in self._processes:
            if process.poll() is None:
                _kill_pid(process.pid, grace=0.5)
            for stream in (process.stdout, process.stderr):
                if stream:
                    stream.close()
        self._processes.clear()
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)


def _wine_prefix_script(*args):
    env = dict(os.environ)
    env.update(_BASE_ENV)
    env["QUOLVA_PREFIX_TIMING"] = "1"
    result = subprocess.run([str(WINE_PREFIX_SCRIPT), *[str(a) for a in args]], env=env,
                            capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise RuntimeError(f"wine-prefix {' '.join(map(str, args))} failed:\n{result.stderr}")
    return result.stderr


# -- session fixtures ----------------------------------------------------------------
@pytest.fixture(scope="session")
def build_dir():
    """The Windows build tree (env QUOLVA_BUILD_DIR, default build/windows-test)."""
    path = Path(os.environ.get("QUOLVA_BUILD_DIR", str(REPO / "build" / "windows-test")))
    if not path.is_dir():
        pytest.skip(f"no Windows build at {path}")
    return path


@pytest.fixture(scope="session")
def helpers_dir(build_dir):
    """<build>/helpers, where the helper programs (fake_java.exe, answer_dialog.exe ...) are."""
    return build_dir / "helpers"


@pytest.fixture(scope="session")
def helper(helpers_dir):
    """helper("name") -> host path of <build>/helpers/name.exe; skips when it is not built."""
    def find(name):
        path = helpers_dir / (name if name.endswith(".exe") else name + ".exe")
        if not path.is_file():
            pytest.skip(f"helper {path.name} is not built")
        return path
    return find


class Pki:
    """The test certificates (see tests/support/pki.py)."""

    def __init__(self, folder):
        self.dir = Path(folder)
        self.ca_pem = self.dir / "ca.pem"
        self.ca_der = self.dir / "ca.der"
        self.cert = self.dir / "localhost.pem"
        self.key = self.dir / "localhost.key"
        self.untrusted_cert = self.dir / "untrusted-localhost.pem"
        self.untrusted_key = self.dir / "untrusted-localhost.key"
        self.wronghost_cert = self.dir / "wronghost.pem"
        self.wronghost_key = self.dir / "wronghost.key"

    @property
    def tls(self):
        return (str(self.cert), str(self.key))

    @property
    def untrusted_tls(self):
        return (str(self.untrusted_cert), str(self.untrusted_key))

    @property
    def wronghost_tls(self):
        return (str(self.wronghost_cert), str(self.wronghost_key))


@pytest.fixture(scope="session")
def pki(build_dir):
    """Test CA and localhost certificates in <build>/pki (made once, then reused)."""
    pki_module.make_pki(str(build_dir / "pki"))
    return Pki(build_dir / "pki")


@pytest.fixture(scope="session")
def template_prefix(build_dir):
    """Host path of the booted template prefix <build>/wine/template (booted once, ~12 s;
    never run programs in it)."""
    path = build_dir / "wine" / "template"
    _wine_prefix_script("template", path)
    return path


@pytest.fixture(scope="session")
def base_prefix(build_dir, template_prefix, pki, helpers_dir):
    """Host path of this session's base prefix: the template plus the trusted test CA.
    Tests get copies of it (fixture `prefix`); never run programs in it."""
    install_ca = helpers_dir / "install_ca.exe"
    if not install_ca.is_file():
        pytest.skip("install_ca.exe is not built")
    path = build_dir / "wine" / f"e2e-base-{os.getpid()}"
    _wine_prefix_script("fresh", template_prefix, path, pki.ca_der, install_ca)
    yield path
    shutil.rmtree(path, ignore_errors=True)


def _free_display():
    for n in range(150, 250):
        if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            return n
    raise RuntimeError("no free X display number")


@pytest.fixture(scope="session")
def xvfb():
    """An X display (":N") for message boxes: our own Xvfb, killed by pid at the end.
    Uses $QUOLVA_TEST_DISPLAY instead when set (e.g. a display scripts/test started)."""
    given = os.environ.get("QUOLVA_TEST_DISPLAY")
    if given:
        yield given
        return
    for _ in range(5):
        n = _free_display()
        process = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and process.poll() is None:
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.05)
        if process.poll() is None:
            break
    else:
        raise RuntimeError("Xvfb did not start")
    yield f":{n}"
    _kill_pid(process.pid)


# -- per-test fixtures ---------------------------------------------------------------
@pytest.fixture
def prefix(build_dir, base_prefix, xvfb):
    """A fresh WinePrefix for this test: a copy of the base prefix (CA trusted), with
    DISPLAY set to the session's Xvfb. Everything started in it is killed at teardown
    and the copy removed (kept when QUOLVA_KEEP_PREFIX=1)."""
    path = build_dir / "wine" / f"e2e-{os.getpid()}-{next(_prefix_numbers)}"
    _wine_prefix_script("fresh", base_prefix, path)
    wine_prefix = WinePrefix(path, display=xvfb)
    yield wine_prefix
    wine_prefix.kill()
    if os.environ.get("QUOLVA_KEEP_PREFIX") != "1":
        shutil.rmtree(path, ignore_errors=True)


class Origins:
    def __init__(self, download, storage):
        self.download = download
        self.storage = storage


@pytest.fixture
def origin_servers(pki, tmp_path):
    """The two HTTPS origins the launcher is built against: .download on 18443 (root
    tmp_path/download) and .storage on 18444 (root tmp_path/storage), both with the
    trusted localhost certificate. Waits up to QUOLVA_PORT_WAIT_SECONDS (120) for a
    port another run holds. Stopped at teardown."""
    servers = []
    # Every run in the shared network namespace takes the same lock before binding the
    # fixed ports, so concurrent runs queue for them in turn instead of racing. A run
    # with its own loopback (netns) has the ports to itself and does not queue.
    lock = open(os.devnull if netns.is_isolated() else PORT_LOCK, "w")
    deadline = time.monotonic() + PORT_WAIT_SECONDS
    while not netns.is_isolated():
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except OSError:
            if time.monotonic() > deadline:
                lock.close()
                pytest.fail(f"another test run kept {PORT_LOCK} for {PORT_WAIT_SECONDS:.0f} s")
            time.sleep(0.2)
    try:
        for name, port in (("download", DOWNLOAD_PORT), ("storage", STORAGE_PORT)):
            root = tmp_path / name
            root.mkdir()
            server = OriginServer(port, root=str(root), tls=pki.tls,
                                  log=str(tmp_path / f"{name}-requests.jsonl"))
            try:
                # The ports are built into game.exe, so a concurrent run on this
                # machine holding them is waited for rather than worked around.
                servers.append(server.start(bind_wait=max(5.0, deadline - time.monotonic())))
            except OSError as error:
                holder = subprocess.run(["ss", "-ltnp", f"sport = :{port}"], capture_output=True,
                                        text=True).stdout
                pytest.fail(f"port {port} stays taken ({error}):\n{holder}")
        yield Origins(*servers)
    finally:
        for server in servers:
            server.stop()
        lock.close()


@pytest.fixture
def download_server(origin_servers):
    """The download origin (https://localhost:18443), see origin_servers."""
    return origin_servers.download


@pytest.fixture
def storage_server(origin_servers):
    """The storage origin (https://localhost:18444), see origin_servers."""
    return origin_servers.storage


class FakeJava:
    """fake_java.exe installed as <game folder>\\pmzjre\\bin\\java.exe."""

    def __init__(self, bin_dir):
        self.bin_dir = Path(bin_dir)
        self.exe = self.bin_dir / "java.exe"
        self.report_path = self.bin_dir / "launch_report.json"
        self.log_path = self.bin_dir / "launch_log.jsonl"
        self.marker = self.bin_dir / "stay_running.marker"

    def report(self):
        import json
        return json.loads(self.report_path.read_text(encoding="utf-8"))

    def starts(self):
        import json
        if not self.log_path.exists():
            return []
        return [json.loads(line) for line in self.log_path.read_text(encoding="utf-8").splitlines() if line]

    def wait_report(self, timeout=15):
        """Waits for launch_report.json and returns it parsed (None on timeout)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.report_path.exists():
                try:
                    return self.report()
                except ValueError:
                    pass
            time.sleep(0.05)
        return None

    def stay_running(self, on=True):
        if on:
            self.marker.write_text("")
        elif self.marker.exists():
            self.marker.unlink()


@pytest.fixture
def install_fake_java(helper):
    """install_fake_java(game_folder_host_path, stay_running=False) -> FakeJava: copies
    fake_java.exe to <folder>/pmzjre/bin/java.exe (creating folders)."""
    source = helper("fake_java")

    def install(game_folder, stay_running=False):
        bin_dir = Path(game_folder) / "pmzjre" / "bin"
        bin_dir.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, bin_dir / "java.exe")
        java = FakeJava(bin_dir)
        java.stay_running(stay_running)
        return java
    return install


class DialogAnswer:
    """A running answer_dialog.exe. result() waits for it and returns
    (exit code, {"caption", "text", "buttons"} or None)."""

    def __init__(self, process, out_path, timeout):
        self.process = process
        self.out_path = out_path
        self.timeout = timeout

    def result(self):
        import json
        try:
            self.process.communicate(timeout=self.timeout + 15)
        except subprocess.TimeoutExpired:
            _kill_pid(self.process.pid)
            self.process.communicate()
        seen = None
        if self.out_path.exists():
            seen = json.loads(self.out_path.read_text(encoding="utf-8"))
        return self.process.returncode, seen


@pytest.fixture
def answer_dialog(prefix, helper, tmp_path):
    """answer_dialog(caption, button="ok", timeout_ms=30000) -> DialogAnswer: starts
    answer_dialog.exe in the background in `prefix`; it waits for the message box with
    exactly this caption, records its texts and presses the button (yes/no/ok/cancel)."""
    exe = helper("answer_dialog")
    numbers = itertools.count(1)

    def start(caption, button="ok", timeout_ms=30000):
        n = next(numbers)
        caption_file = tmp_path / f"dialog-caption-{n}.txt"
        caption_file.write_bytes(caption.encode("utf-8"))
        out = tmp_path / f"dialog-seen-{n}.json"
        process = prefix.start(exe, "--caption-file", prefix.win_path(caption_file), "--button", button,
                               "--timeout-ms", timeout_ms, "--out", prefix.win_path(out))
        return DialogAnswer(process, out, timeout_ms / 1000.0)
    return start


@pytest.fixture
def hold_file(prefix, helper, tmp_path):
    """hold_file(host_path, share="none", access="readwrite", seconds=600, lock=None)
    -> Popen: another process holds the file (created when missing) or folder open
    until teardown or until you kill it, with an exclusive byte-range lock when `lock`
    is "OFFSET:LENGTH"; returns once the handle is open."""
    exe = helper("hold_file")
    numbers = itertools.count(1)

    def hold(path, share="none", access="readwrite", seconds=600, lock=None):
        ready = tmp_path / f"hold-ready-{next(numbers)}"
        extra = ["--lock", lock] if lock else []
        process = prefix.start(exe, prefix.win_path(path), "--share", share, "--access", access,
                               *extra, "--ready", prefix.win_path(ready), "--seconds", seconds)
        deadline = time.monotonic() + 20
        while not ready.exists():
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"hold_file could not hold {path} (exit {process.poll()})")
            time.sleep(0.05)
        return process
    return hold
