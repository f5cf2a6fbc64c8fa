"""Runs game.exe under Wine against local patch origins and tells what happened.

    demo.py BUILD [WORK]

BUILD is a Windows test build (game.exe and the helper programs); WORK (default
BUILD/demo) receives the demo's prefix, the origins' files and the screenshots.

Four starts, as a player would make them on one machine:
  1. fresh install of Kova Ascendant: the manifest lists patch 3, which is downloaded
     and unpacked into C:\\Quolva\\ and recorded; the game is started;
  2. the next start: up to date, only the manifest is fetched; the game keeps running;
  3. patch 4 comes out while the game runs: the close prompt, answered Yes;
  4. a Stone Harbor launcher on a machine without Stone Harbor: the missing-runtime error.

The publisher's servers are the project's test origin (tests/support/origin_server.py)
on the ports built into the test build, in a network namespace of the demo's own when
the kernel allows one. The game's Java runtime is the stand-in that records how it was
started; toasts are seen through the test toast recorder, since Wine has no toast
platform. Message boxes are read, photographed and answered by answer_dialog.exe.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import netns  # noqa: E402
import pki  # noqa: E402
from origin_server import OriginServer  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else os.path.join(BUILD, "demo")
HELPERS = os.path.join(BUILD, "helpers")
PREFIX = os.path.join(WORK, "prefix")
TEMPLATE = os.path.join(BUILD, "wine", "template")
ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
           WINEPREFIX=PREFIX)
ENV.pop("WINEARCH", None)
TOAST_LOG = os.path.join(WORK, "toasts.jsonl")
ENV["QUOLVA_TOAST_LOG"] = "Z:" + TOAST_LOG.replace("/", "\\")

KOVA_FOLDER = "C:\\Games\\Kova Ascendant"
STONE_FOLDER = "C:\\Games\\StoneHarbor"
CLOSE_CAPTION = "Kova Ascendant - Cập nhật"
ERROR_CAPTION = "Lỗi"


def host(windows_path):
    """Host path of a C:\\ path in the demo prefix."""
    return os.path.join(PREFIX, "drive_c", *windows_path[3:].split("\\"))


def wine(*args, **kwargs):
    return subprocess.call(["wine", *args], env=ENV, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)


def start_xvfb():
    for n in range(97, 140):
        if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            continue
        process = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x600x24", "-nolisten", "tcp"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{n}") or process.poll() is not None:
                break
            time.sleep(0.05)
        if process.poll() is None:
            ENV["DISPLAY"] = f":{n}"
            return process
    sys.exit("demo: no X display could be started")


def prepare_prefix(pkidir):
    tool = os.path.join(ROOT, "scripts", "wine-prefix")
    subprocess.check_call([tool, "template", TEMPLATE], env=ENV)
    subprocess.check_call([tool, "fresh", TEMPLATE, PREFIX, os.path.join(pkidir, "ca.der"),
                           os.path.join(HELPERS, "install_ca.exe")], env=ENV)
    if wine(os.path.join(HELPERS, "register_toast_recorder.exe")) != 0:
        sys.exit("demo: the toast recorder could not be registered")
    # Without a window manager X draws no title bars: Wine draws its own, so the
    # pictures show the boxes' captions as a player sees them.
    wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated", "/d", "N", "/f")
    # Debian's Wine brings no fonts of its own; the dialog font falls back to one that
    # draws the stacked Vietnamese marks (ầ, ổ, ể) as a single one. DejaVu Sans has them.
    for face in ("Tahoma", "MS Shell Dlg", "MS Sans Serif"):
        wine("reg", "add", "HKCU\\Software\\Wine\\Fonts\\Replacements", "/v", face, "/d", "DejaVu Sans", "/f")
    # At 96 dpi the 8-point dialog font has too few pixels for two marks above a letter.
    wine("reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")


def patch_zip(number):
    """Kova's patch: its (stand-in) Java runtime, a game library, a module, a note."""
    path = os.path.join(WORK, f"kova-patch-{number}.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(HELPERS, "fake_java.exe"), "kova/pmzjre/bin/java.exe")
        z.writestr("kova/pmzlib/game.jar", f"game classes of patch {number}\n" * 100)
        z.writestr("kova/javafx-sdk/lib/javafx.base.jar", b"demo module\n" * 100)
        z.writestr("kova/readme.txt", f"Kova Ascendant, patch {number}\n")
    with open(path, "rb") as f:
        return f.read()


def publish(download, kova):
    download.set_route("/download/checkpatch.txt",
                       {"body": f"kova;{kova}\r\nbelu;1\r\nstoneharbor;0\r\n"})
    download.set_route("/gro/new/patch.zip", {"body": patch_zip(kova)})


def snapshot(folder):
    found = {}
    for dirpath, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(dirpath, name)
            status = os.stat(path)
            found[path] = (status.st_size, status.st_mtime_ns, status.st_ino)
    return found


def windows_name(path):
    return "C:\\" + os.path.relpath(path, os.path.join(PREFIX, "drive_c")).replace("/", "\\")


def records():
    users = os.path.join(PREFIX, "drive_c", "users")
    out = {}
    for user in os.listdir(users):
        for game in ("kova", "belu", "stoneharbor"):
            path = os.path.join(users, user, "Quolva", game + ".txt")
            if os.path.exists(path):
                out[game] = open(path).read()
    return out


def toasts():
    if not os.path.exists(TOAST_LOG):
        return []
    return [json.loads(line) for line in open(TOAST_LOG, encoding="utf-8") if line.strip()]


def toast_texts(toast):
    """Title and message of a toast's XML (two text elements, escaped)."""
    xml = toast["xml"]
    texts = xml.split("<text>")[1:]
    unescape = [("&lt;", "<"), ("&gt;", ">"), ("&quot;", '"'), ("&apos;", "'"), ("&amp;", "&")]
    out = []
    for text in texts:
        text = text.split("</text>")[0]
        for a, b in unescape:
            text = text.replace(a, b)
        out.append(text)
    return out


def wait_for_notification_gate():
    """The launcher shows at most one notice per 5 s for the user: a demo start that
    follows the previous one at once waits until its loading notice can be shown."""
    for user in os.listdir(os.path.join(PREFIX, "drive_c", "users")):
        stamp = os.path.join(PREFIX, "drive_c", "users", user, "Quolva", "toast_last_timestamp.txt")
        if os.path.exists(stamp):
            remaining = int(open(stamp).read() or 0) / 1000 + 5.3 - time.time()
            if 0 < remaining < 6:
                time.sleep(remaining)


def java_starts(game_folder):
    log = os.path.join(host(game_folder), "pmzjre", "bin", "launch_log.jsonl")
    if not os.path.exists(log):
        return []
    starts = []
    for line in open(log, encoding="utf-8"):
        try:
            starts.append(json.loads(line))
        except ValueError:
            pass
    return starts


def open_games():
    """Host pids of the stand-in game's processes running in the demo prefix (Wine
    shows a Windows process's command line as its host command line)."""
    tag = f"WINEPREFIX={PREFIX}".encode()
    found = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            command = open(f"/proc/{entry}/cmdline", "rb").read().lower()
            environment = open(f"/proc/{entry}/environ", "rb").read().split(b"\0")
        except OSError:
            continue
        if b"pmzjre\\bin\\java.exe" in command and tag in environment:
            found.add(int(entry))
    return found


class Dialog:
    """answer_dialog.exe waiting for a message box; photographs it before the answer."""

    def __init__(self, caption, button, slug):
        self.slug = slug
        self.button = button
        self.caption_file = os.path.join(WORK, f"{slug}-caption.txt")
        self.out = os.path.join(WORK, f"{slug}.json")
        self.shot = os.path.join(WORK, f"{slug}.png")
        for path in (self.out, self.shot):
            if os.path.exists(path):
                os.remove(path)
        with open(self.caption_file, "wb") as f:
            f.write(caption.encode("utf-8"))
        self.process = subprocess.Popen(
            ["wine", os.path.join(HELPERS, "answer_dialog.exe"), "--caption-file", self.win(self.caption_file),
             "--button", button, "--timeout-ms", "60000", "--out", self.win(self.out), "--screenshot-hint"],
            env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @staticmethod
    def win(path):
        return "Z:" + path.replace("/", "\\")

    def watch(self):
        """Called while the launcher runs: takes the picture as soon as the box is read."""
        if os.path.exists(self.shot) or not os.path.exists(self.out):
            return
        seen = json.load(open(self.out, encoding="utf-8"))
        left, top, right, bottom = seen["rect"]
        margin = 0
        crop = f"{right - left + 2 * margin}x{bottom - top + 2 * margin}+{max(0, left - margin)}+{max(0, top - margin)}"
        subprocess.call(["import", "-display", ENV["DISPLAY"], "-window", "root", "-crop", crop, "+repage",
                         self.shot], stderr=subprocess.DEVNULL)

    def result(self):
        try:
            self.process.wait(timeout=90)
        except subprocess.TimeoutExpired:
            self.process.kill()
        if not os.path.exists(self.out):
            return None
        return json.load(open(self.out, encoding="utf-8"))


def start(title, launcher, dialog=None, servers=()):
    """One start of the launcher, then a few lines on what it did."""
    wait_for_notification_gate()
    for server in servers:
        server.clear_requests()
    before_files = snapshot(host("C:\\Quolva\\")) if os.path.isdir(host("C:\\Quolva\\")) else {}
    before_toasts = len(toasts())
    before_records = records()
    open_before = open_games()
    before_starts = {folder: len(java_starts(folder)) for folder in ("C:\\Quolva\\kova", STONE_FOLDER)}
    print(f"\n{title}\n  player starts {launcher}")

    started = time.time()
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen(["wine", launcher], env=ENV, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=out)
        while process.poll() is None:
            if dialog:
                dialog.watch()
            time.sleep(0.05)
    code = process.returncode
    seconds = time.time() - started
    seen = dialog.result() if dialog else None

    for server in servers:
        for request in server.requests:
            print(f"  asked {server.url}{request['path']}")
    for toast in toasts()[before_toasts:]:
        title_text, message = toast_texts(toast)
        print(f"  toast ({toast['appId']}): {title_text}: {message}")
    if seen:
        first_line = seen["text"].split("\n")[0]
        print(f"  message box \"{seen['caption']}\": {first_line}")
        print(f"    answered {dialog.button.capitalize() if dialog.button != 'ok' else 'OK'}; "
              f"picture: {os.path.relpath(dialog.shot, ROOT)}")
    after_records = records()
    for game, number in after_records.items():
        if before_records.get(game) != number:
            print(f"  recorded patch {number} for {game} (was {before_records.get(game, 'none')})")
    after_files = snapshot(host("C:\\Quolva\\")) if os.path.isdir(host("C:\\Quolva\\")) else {}
    arrived = sorted(windows_name(p) for p, state in after_files.items()
                     if before_files.get(p) != state and not os.path.basename(p).startswith("launch_"))
    if arrived:
        print(f"  files written: {', '.join(arrived)}")
    if open_before and not open_before & open_games():
        print("  the game that was open was closed")
    launched = False
    for folder, count in before_starts.items():
        deadline = time.time() + 10
        while code == 0 and len(java_starts(folder)) <= count and time.time() < deadline:
            time.sleep(0.1)
        for game in java_starts(folder)[count:]:
            launched = True
            main_class = game["command_line"].rsplit(" ", 1)[-1]
            hidden = (not game["has_console"] and game["stdout_stderr_same_pipe"] and game["stdin_is_nul"]
                      and game["show_window"] == 0)
            print(f"  game started: {game['exe']} ... {main_class}")
            print(f"    in {game['cwd']}, " + ("hidden: no console, output into an unread pipe, input from NUL"
                                               if hidden else f"NOT hidden: {game}"))
    if not launched:
        print("  no game started")
    print(f"  launcher ended with exit code {code} after {seconds:.1f} s")
    return seen


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    # A loopback of the demo's own, so the ports built into the test build are free
    # whatever else runs on this machine. A display reached over TCP would not be
    # reachable from inside, so then the shared network is kept.
    display = os.environ.get("DISPLAY", "")
    if not display or display.startswith(":"):
        netns.isolate()
    pkidir = pki.make_pki(os.path.join(BUILD, "pki")).folder
    xvfb = start_xvfb() if not display else None
    servers = []
    try:
        print("demo: a fresh Wine prefix, the test CA trusted in it, local publisher origins")
        prepare_prefix(pkidir)
        tls = (os.path.join(pkidir, "localhost.pem"), os.path.join(pkidir, "localhost.key"))
        download = OriginServer(18443, root=os.path.join(WORK, "download"), tls=tls).start(bind_wait=30)
        storage = OriginServer(18444, root=os.path.join(WORK, "storage"), tls=tls).start(bind_wait=30)
        servers = [download, storage]

        # The game folder as the player has it: the launcher and its logo, no runtime yet.
        os.makedirs(os.path.join(host(KOVA_FOLDER), "resource"))
        shutil.copy(os.path.join(BUILD, "game.exe"), host(KOVA_FOLDER))
        shutil.copy(os.path.join(ROOT, "notify", "blank.ico"), os.path.join(host(KOVA_FOLDER), "resource", "game.ico"))
        kova = KOVA_FOLDER + "\\game.exe"

        publish(download, 3)
        start("1. Fresh install (the publisher's manifest lists patch 3 for kova)", kova, servers=servers)

        # The game the next start opens stays open (the stand-in runs while this marker exists).
        marker = os.path.join(host("C:\\Quolva\\kova"), "pmzjre", "bin", "stay_running.marker")
        open(marker, "w").close()
        start("2. Next start, up to date (the manifest still lists 3)", kova, servers=servers)

        publish(download, 4)
        dialog = Dialog(CLOSE_CAPTION, "yes", "close-prompt")
        start("3. Patch 4 comes out while the game is still open", kova, dialog=dialog, servers=servers)

        os.makedirs(host(STONE_FOLDER))
        shutil.copy(os.path.join(BUILD, "game.exe"), host(STONE_FOLDER))
        dialog = Dialog(ERROR_CAPTION, "ok", "missing-runtime")
        start("4. A Stone Harbor launcher on a machine without Stone Harbor (manifest: stoneharbor;0)",
              STONE_FOLDER + "\\game.exe", dialog=dialog, servers=servers)
        print(f"\ndemo: done; prefix, origins' files and pictures in {os.path.relpath(WORK, ROOT)}")
    finally:
        for server in servers:
            server.stop()
        subprocess.call(["wineserver", "-k"], env=ENV, stderr=subprocess.DEVNULL)
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
