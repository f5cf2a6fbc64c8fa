"""Runs game.exe under Wine against local patch origins and tells what happened."""
import http.server
import json
import os
import shutil
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import pki  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
WORK = os.path.join(BUILD, "demo")
PREFIX = os.path.join(WORK, "prefix")
TEMPLATE = os.path.join(BUILD, "wine", "template")
ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
           WINEPREFIX=PREFIX)


class Origin(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(port, folder, cert, key, log):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **k):
            super().__init__(*a, directory=folder, **k)

        def log_message(self, *args):
            log.append(f"https://localhost:{port}{self.path} -> {args[2] if len(args) > 2 else ''}")

    server = Origin(("127.0.0.1", port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def c_drive(*parts):
    return os.path.join(PREFIX, "drive_c", *parts)


def profile_quolva():
    users = os.path.join(PREFIX, "drive_c", "users")
    for user in os.listdir(users):
        folder = os.path.join(users, user, "Quolva")
        if os.path.isdir(folder):
            return folder
    return None


CAPTIONS = {"Lỗi": "missing-runtime", "Thông báo": "launch-failed",
            "Kova Ascendant - Cập nhật": "close-prompt", "VORNEL LAB - Cập nhật": "close-prompt"}


def watch_dialogs(stop, seen):
    """Photographs each message box the launcher shows, then answers it with Enter."""
    answered = set()
    while not stop.is_set():
        for caption, slug in CAPTIONS.items():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{caption}$"],
                                   env=ENV, capture_output=True, text=True).stdout.split()
            found = [w for w in found if w not in answered]
            if not found:
                continue
            answered.add(found[0])
            time.sleep(0.5)
            shot = os.path.join(WORK, f"{slug}.png")
            subprocess.call(["import", "-display", ENV["DISPLAY"], "-window", "root", shot],
                            stderr=subprocess.DEVNULL)
            seen.append((caption, shot))
            subprocess.call(["xdotool", "key", "--window", found[0], "Return"], env=ENV,
                            stderr=subprocess.DEVNULL)
            time.sleep(1)
        time.sleep(0.3)


def run_launcher(exe_windows_path, timeout=120):
    started = time.time()
    stop = threading.Event()
    seen = []
    watcher = threading.Thread(target=watch_dialogs, args=(stop, seen), daemon=True)
    watcher.start()
    try:
        code = subprocess.call(["wine", exe_windows_path], env=ENV, timeout=timeout,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.call(["wineserver", "-w"], env=ENV)
    finally:
        stop.set()
        watcher.join()
    for caption, shot in seen:
        print(f"  message box \"{caption}\" appeared (screenshot: {os.path.relpath(shot, ROOT)})")
    return code, time.time() - started


def main():
    os.makedirs(WORK, exist_ok=True)
    pkidir = pki.make_pki(os.path.join(BUILD, "pki")).folder
    display = None
    xvfb = None
    if not os.environ.get("DISPLAY"):
        display = ":97"
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ENV["DISPLAY"] = display
        time.sleep(1)
    try:
        print("demo: preparing a fresh Wine prefix")
        if not os.path.exists(os.path.join(TEMPLATE, "system.reg")):
            os.makedirs(os.path.dirname(TEMPLATE), exist_ok=True)
            # wineboot answers 1 on a 64-bit-only Wine (no syswow64) although the prefix is fine.
            subprocess.call(["wineboot", "-i"], env=dict(ENV, WINEPREFIX=TEMPLATE),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.call(["wineserver", "-w"], env=dict(ENV, WINEPREFIX=TEMPLATE))
        shutil.rmtree(PREFIX, ignore_errors=True)
        shutil.copytree(TEMPLATE, PREFIX, symlinks=True)
        subprocess.check_call(["wine", os.path.join(BUILD, "helpers", "install_ca.exe"),
                               "Z:" + os.path.join(pkidir, "ca.der").replace("/", "\\")], env=ENV)
        subprocess.call(["wineserver", "-w"], env=ENV)

        # The publisher's side: a manifest on the download origin and the first game's patch,
        # which carries the game's files with its (stand-in) Java runtime.
        download = os.path.join(WORK, "download")
        shutil.rmtree(download, ignore_errors=True)
        os.makedirs(os.path.join(download, "download"))
        os.makedirs(os.path.join(download, "gro", "new"))
        with open(os.path.join(download, "download", "checkpatch.txt"), "w") as f:
            f.write("kova;3\r\nbelu;1\r\nstoneharbor;7\r\n")
        patch = os.path.join(download, "gro", "new", "patch.zip")
        with zipfile.ZipFile(patch, "w", zipfile.ZIP_DEFLATED) as z:
            z.write(os.path.join(BUILD, "helpers", "fake_java.exe"), "kova/pmzjre/bin/java.exe")
            z.writestr("kova/pmzlib/game.jar", b"PK demo jar " * 100)
            z.writestr("kova/javafx-sdk/lib/javafx.base.jar", b"demo module " * 100)
            z.writestr("kova/readme.txt", "Kova Ascendant, patch 3\n")
        log = []
        servers = [serve(18443, download, os.path.join(pkidir, "localhost.pem"),
                         os.path.join(pkidir, "localhost.key"), log)]

        os.makedirs(c_drive("Quolva"), exist_ok=True)
        shutil.copy(os.path.join(BUILD, "game.exe"), c_drive("Quolva", "game.exe"))

        for round_name in ("fresh install", "up-to-date start"):
            log.clear()
            print(f"\ndemo: {round_name}: running C:\\Quolva\\game.exe")
            code, seconds = run_launcher("C:\\Quolva\\game.exe")
            print(f"  launcher exit code {code} after {seconds:.1f} s")
            print("  requests to the origins:")
            for line in log:
                print(f"    {line}")
            records = profile_quolva()
            record = os.path.join(records, "kova.txt") if records else None
            if record and os.path.exists(record):
                print(f"  recorded patch number for kova: {open(record).read()}")
            else:
                print("  no patch number recorded")
            installed = []
            for dirpath, _, files in os.walk(c_drive("Quolva", "kova")):
                for name in files:
                    if name.startswith("launch_"):
                        continue
                    installed.append(os.path.relpath(os.path.join(dirpath, name), c_drive()))
            print(f"  files under C:\\Quolva\\kova: {', '.join(sorted(installed)) or 'none'}")
            report = c_drive("Quolva", "kova", "pmzjre", "bin", "launch_report.json")
            for _ in range(50):
                if os.path.exists(report):
                    break
                time.sleep(0.1)
            if os.path.exists(report):
                info = json.load(open(report, encoding="utf-8"))
                print(f"  game started: {info['command_line']}")
                print(f"    in {info['cwd']}, stdin {info['stdin']}, stdout/stderr {info['stdout']}, "
                      f"console window: {info['has_console']}")
                os.remove(report)
            else:
                print("  the game was not started")
        for server in servers:
            server.shutdown()
    finally:
        subprocess.call(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
