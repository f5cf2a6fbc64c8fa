#!/usr/bin/python3
"""The patch benchmark: the launcher's extraction, download and up-to-date start, side by
side with the native tools and the Wine floors, on the same archives in the same round.

Run through bench/run, which builds the programs first. Every figure is taken in each of
N rounds; the order of the cases rotates from round to round; each figure is reported as
its min and median and as a ratio to its anchor measured in the same round.
"""
import argparse
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "support"))
import netns  # noqa: E402
import pki as pki_module  # noqa: E402

BUILD = ROOT / "build"
HOST = BUILD / "bench-host" / "bench"
WIN = BUILD / "bench-win"
DATA = BUILD / "bench-data"
MIB = 1 << 20
GROUPS = ("patch", "tiny", "download", "anatomy", "start")
ANATOMY_MODES = ("floor", "options", "keep", "keep-pretouched", "keep-batched", "read-into-body", "hot-copy",
                 "resident")

WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}


def log(*parts):
    print("bench:", *parts, file=sys.stderr, flush=True)


def memory_of(r):
    """Peak memory of the case above what the process held before it read anything:
    the kernel's high-water mark of the Wine process (VmHWM) against its resident size
    at the start, and Wine's own peak counters against theirs."""
    return {"maxrss": r["maxrss"], "peak_pf": r["end_peak_pf"] - r["start_pf"],
            "peak_ws": r["end_peak_ws"] - r["start_ws"], "start_pf": r["start_pf"]}


class Bench:
    def __init__(self, args):
        self.args = args
        self.quick = args.quick
        self.data = DATA / ("quick" if self.quick else "full")
        self.run_dir = DATA / ("run-%s" % time.strftime("%Y%m%d-%H%M%S"))
        self.children = []
        self.native = str(HOST / "bench_native")

    # -- set-up ------------------------------------------------------------------------
    def setup(self):
        subprocess.run([sys.executable, str(ROOT / "bench" / "gen_archives.py"), str(self.data)]
                       + (["--quick"] if self.quick else []), check=True)
        with open(self.data / "archives.json") as f:
            self.archives = json.load(f)
        self.run_dir.mkdir(parents=True)
        self.pki = pki_module.make_pki(str(DATA / "pki"))
        self.start_xvfb()
        template = WIN / "wine" / "template"
        subprocess.run([str(ROOT / "scripts" / "wine-prefix"), "template", str(template)], check=True)
        self.prefix = self.run_dir / "prefix"
        subprocess.run([str(ROOT / "scripts" / "wine-prefix"), "fresh", str(template), str(self.prefix),
                        self.pki.ca_der, str(WIN / "helpers" / "install_ca.exe")], check=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), DISPLAY=self.display, **WINE_ENV)
        # One wineserver for the whole run, so every case meets a warm one.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        self.drive_c = self.prefix / "drive_c"
        self.setup_game()
        self.setup_origin()

    def start_xvfb(self):
        for n in range(170, 250):
            if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
        proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.children.append(proc)
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{n}") and time.monotonic() < deadline:
            time.sleep(0.05)
        self.display = f":{n}"

    def setup_game(self):
        game = self.drive_c / "Games" / "Kova"
        (game / "pmzjre" / "bin").mkdir(parents=True)
        shutil.copy(WIN / "quolva" / "game.exe", game / "game.exe")
        shutil.copy(WIN / "helpers" / "fake_java.exe", game / "pmzjre" / "bin" / "java.exe")
        self.game_exe = game / "game.exe"
        self.launch_report = game / "pmzjre" / "bin" / "launch_report.json"
        records = self.drive_c / "users" / "root" / "Quolva"
        records.mkdir(parents=True, exist_ok=True)
        (records / "kova.txt").write_text("12")

    def setup_origin(self):
        www = self.run_dir / "www"
        (www / "download").mkdir(parents=True)
        (www / "download" / "checkpatch.txt").write_text("kova;12\nbelu;3\nstoneharbor;7\n")
        self.body_size = (60 if self.quick else 300) * 1000 * 1000
        with open(www / "body.bin", "wb") as f:
            f.write(os.urandom(self.body_size))
        pidfile = self.run_dir / "origin.pid"
        cmd = [sys.executable, str(ROOT / "tests" / "support" / "origin_server.py"), "--port", "18443",
               "--tls-cert", self.pki.cert, "--tls-key", self.pki.key, "--root", str(www),
               "--pidfile", str(pidfile), "--daemon", "--max-seconds", "3600"]
        subprocess.run(cmd, check=True)
        self.origin_pidfile = pidfile
        self.url_body = "https://localhost:18443/body.bin"
        self.url_manifest = "https://localhost:18443/download/checkpatch.txt"

    def teardown(self):
        if getattr(self, "origin_pidfile", None):
            subprocess.run([sys.executable, str(ROOT / "tests" / "support" / "origin_server.py"), "--stop",
                            "--pidfile", str(self.origin_pidfile)])
        if getattr(self, "env", None):
            subprocess.run(["wineserver", "-k"], env=self.env)
        for proc in self.children:
            proc.terminate()
            proc.wait()

    # -- running one case --------------------------------------------------------------
    def touch(self):
        # Dirty pages of the cases before would be written back during this one: every
        # case extracts hundreds of MB, so which case met the writeback would decide the
        # figures. Each case starts with none pending.
        os.sync()
        subprocess.run([self.native, "touch", "1024"], check=True)

    def fresh_dir(self, name):
        path = self.run_dir / "out" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        return path

    def timed(self, cmd, env=None):
        """Wall time of a process; its stdout parsed as JSON when it prints any."""
        self.touch()
        # Output through files: Wine helpers that outlive the program inherit its
        # descriptors, and a pipe would stay open until they end.
        out_path, err_path = self.run_dir / "case.out", self.run_dir / "case.err"
        with open(out_path, "wb") as out_file, open(err_path, "wb") as err_file:
            t0 = time.perf_counter()
            proc = subprocess.run(cmd, stdout=out_file, stderr=err_file, stdin=subprocess.DEVNULL, env=env)
            seconds = time.perf_counter() - t0
        stdout, stderr = out_path.read_bytes(), err_path.read_bytes()
        if proc.returncode != 0:
            raise RuntimeError("%s failed (%d): %s %s" % (cmd[0], proc.returncode, stdout[-500:], stderr[-500:]))
        result = {}
        out = stdout.decode(errors="replace").strip().splitlines()
        if out and out[-1].startswith("{"):
            result = json.loads(out[-1])
        result["wall"] = seconds
        return result

    def wine(self, exe, *args, maxrss=False):
        if not maxrss:
            return self.timed(["wine", str(exe), *args], env=self.env)
        # The Windows process is the unix process `wine` became: its peak resident size
        # is the kernel's, measured from outside.
        rss_path = self.run_dir / "case.rss"
        r = self.timed(["/usr/bin/time", "-f", "%M", "-o", str(rss_path), "wine", str(exe), *args], env=self.env)
        r["maxrss"] = int(rss_path.read_text().split()[-1]) * 1024
        return r

    def win_path(self, path):
        path = Path(path)
        try:
            return "C:\\" + str(path.relative_to(self.drive_c)).replace("/", "\\")
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    # -- cases -------------------------------------------------------------------------
    def extraction_cases(self, archive, tag):
        zp = str(self.data / (archive + ".zip"))
        zw = self.win_path(zp)

        def native_tool(cmd_of):
            def run():
                out = self.fresh_dir(tag())
                out.mkdir()
                return self.timed(cmd_of(str(out)))["wall"], {}
            return run

        def ours():
            return self.timed([self.native, "extract", zp, str(self.fresh_dir(tag()))])["wall"], {}

        def inflate_floor():
            return self.timed([self.native, "inflate", zp])["seconds"], {}

        def write_floor():
            return self.timed([self.native, "writefloor", zp, str(self.fresh_dir(tag()))])["seconds"], {}

        def wine_launcher(folder="bench"):
            def run():
                root = self.drive_c / "Quolva" / tag()
                r = self.wine(WIN / "bench" / folder / "bench_extract.exe" if folder != "bench" else
                              WIN / "bench" / "bench_extract.exe", zw, self.win_path(root) + "\\", maxrss=True)
                if not r.get("ok"):
                    raise RuntimeError("launcher extraction failed: %r" % r)
                return r["seconds"], memory_of(r)
            return run

        def wine_write_floor():
            root = self.drive_c / "Quolva" / tag()
            return self.wine(WIN / "bench" / "bench_write_floor.exe", zw, self.win_path(root) + "\\")["seconds"], {}

        cases = {
            "zip reader (host)": ours,
            "bsdtar": native_tool(lambda o: ["bsdtar", "-xf", zp, "-C", o]),
            "unzip": native_tool(lambda o: ["unzip", "-q", zp, "-d", o]),
            "7z": native_tool(lambda o: ["7z", "x", "-y", "-bd", "-bso0", "-o" + o, zp]),
            "python zipfile": native_tool(lambda o: [sys.executable, "-m", "zipfile", "-e", zp, o]),
            "inflate floor": inflate_floor,
            "write floor": write_floor,
            "launcher (Wine)": wine_launcher(),
            "Wine write floor": wine_write_floor,
        }
        if self.args.before and (WIN / "bench" / "before" / "bench_extract.exe").exists():
            cases["launcher before (Wine)"] = wine_launcher("before")
        return cases

    def download_cases(self):
        def launcher(exe=WIN / "bench" / "bench_http.exe"):
            r = self.wine(exe, self.url_body, maxrss=True)
            if not r.get("ok") or r["bytes"] != self.body_size:
                raise RuntimeError("httpGet failed: %r" % r)
            return r["seconds"], dict(memory_of(r), capacity=r["capacity"])

        def floor(*extra):
            r = self.wine(WIN / "bench" / "winhttp_floor.exe", self.url_body, *extra)
            if not r.get("ok") or r["bytes"] != self.body_size:
                raise RuntimeError("floor fetch failed: %r" % r)
            return r["seconds"], {"reads": r["reads"]}

        def curl():
            return self.timed(["curl", "-sS", "--cacert", self.pki.ca_pem, "-o", "/dev/null",
                               self.url_body])["wall"], {}

        cases = {"httpGet (Wine)": launcher, "WinHTTP floor (Wine)": floor,
                 "WinHTTP floor keeping the body (Wine)": lambda: floor("--keep"), "curl": curl}
        if self.args.before and (WIN / "bench" / "before" / "bench_http.exe").exists():
            cases["httpGet before (Wine)"] = lambda: launcher(WIN / "bench" / "before" / "bench_http.exe")
        return cases

    def anatomy_cases(self):
        """The plain WinHTTP loop with one thing changed at a time (winhttp_variants.cpp)."""
        def variant(mode):
            def run():
                r = self.wine(WIN / "bench" / "winhttp_variants.exe", self.url_body, mode, str(self.body_size))
                if not r.get("ok") or r["bytes"] != self.body_size:
                    raise RuntimeError("variant %s failed: %r" % (mode, r))
                return r["seconds"], {k: r[k] for k in ("query", "read", "copy")}
            return run

        return {mode: variant(mode) for mode in ANATOMY_MODES}

    def start_cases(self):
        def game():
            if self.launch_report.exists():
                self.launch_report.unlink()
            self.touch()
            t0 = time.perf_counter()
            proc = subprocess.Popen(["wine", str(self.game_exe)], env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    cwd=str(self.game_exe.parent))
            deadline = t0 + 60
            while not self.launch_report.exists():
                if time.perf_counter() > deadline:
                    proc.kill()
                    raise RuntimeError("game never started")
                time.sleep(0.002)
            seconds = time.perf_counter() - t0
            proc.wait(timeout=60)
            return seconds, {}

        def empty():
            r = self.wine(WIN / "bench" / "empty.exe", maxrss=True)
            return r["wall"], {"maxrss": r["maxrss"]}

        def manifest():
            return self.wine(WIN / "bench" / "winhttp_floor.exe", self.url_manifest)["seconds"], {}

        return {"game.exe up to date": game, "wine empty.exe": empty, "WinHTTP manifest fetch": manifest}

    # -- rounds ------------------------------------------------------------------------
    def run(self):
        rounds = self.args.rounds
        groups = [g for g in GROUPS if g in self.args.groups]
        results = {g: {} for g in groups}
        counter = [0]

        def tag():
            counter[0] += 1
            return "c%05d" % counter[0]

        for rnd in range(rounds):
            t_round = time.monotonic()
            for group in groups:
                if group in ("patch", "tiny"):
                    cases = self.extraction_cases(group, tag)
                elif group == "download":
                    cases = self.download_cases()
                elif group == "anatomy":
                    cases = self.anatomy_cases()
                else:
                    cases = self.start_cases()
                names = list(cases)
                k = rnd % len(names)
                for name in names[k:] + names[:k]:
                    seconds, extra = cases[name]()
                    results[group].setdefault(name, []).append(dict(extra, seconds=seconds, round=rnd))
            log("round %d of %d: %.0f s" % (rnd + 1, rounds, time.monotonic() - t_round))
            self.save(results)
        return results

    def save(self, results):
        out = {"machine": machine(), "quick": self.quick, "rounds": self.args.rounds,
               "archives": self.archives, "body_bytes": getattr(self, "body_size", 0), "results": results,
               "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())}
        with open(self.run_dir / "results.json", "w") as f:
            json.dump(out, f, indent=1)
        latest = DATA / ("latest-quick.json" if self.quick else "latest.json")
        shutil.copy(self.run_dir / "results.json", latest)


def machine():
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    with open("/proc/meminfo") as f:
        mem = f.readline().split()[1]
    return {"cpu": cpu, "cores": os.cpu_count(), "memory_gib": round(int(mem) / (1 << 20), 1),
            "kernel": platform.release(), "wine": wine, "python": platform.python_version(),
            "filesystem": subprocess.run(["stat", "-f", "-c", "%T", str(DATA)], stdout=subprocess.PIPE,
                                         text=True).stdout.strip()}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true", help="smaller archives and 2 rounds, for development")
    ap.add_argument("--rounds", type=int)
    ap.add_argument("--groups", default=",".join(GROUPS),
                    help="comma-separated subset of " + ",".join(GROUPS))
    ap.add_argument("--before", action="store_true",
                    help="also run build/bench-win/bench/before/*.exe (an earlier build of the same drivers)")
    ap.add_argument("--keep", action="store_true", help="keep this run's extracted trees and prefix")
    args = ap.parse_args(argv)
    args.groups = args.groups.split(",")
    if args.rounds is None:
        args.rounds = 2 if args.quick else 5
    netns.isolate()
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *a: (_ for _ in ()).throw(KeyboardInterrupt()))
    try:
        bench.setup()
        bench.run()
    finally:
        bench.teardown()
        if not args.keep and bench.run_dir.exists():
            # Only now, after every case: deleting many files makes later creation slow.
            for name in ("out", "prefix", "www"):
                shutil.rmtree(bench.run_dir / name, ignore_errors=True)
    subprocess.run([sys.executable, str(ROOT / "bench" / "report.py"),
                    str(DATA / ("latest-quick.json" if args.quick else "latest.json"))]
                   + (["--quick"] if args.quick else []))
    return 0


if __name__ == "__main__":
    sys.exit(main())
