"""The player's side of the scenario suite (test_scenarios.py): the three games as the
player knows them, and one machine (a test prefix with the toast recorder, the two
origins and the stand-in game runtime) on which the launcher is started again and again.

The smaller helpers come from the e2e files that introduced them, so each has one home.
"""
import os
import time
from dataclasses import dataclass
from pathlib import Path

from test_notifications import LOADING, toast_xml  # noqa: F401  (re-exported)
from test_patching import JavaInFolder, game_patch, record  # noqa: F401

MANIFEST = "/download/checkpatch.txt"
REPO = Path(__file__).resolve().parents[2]


@dataclass(frozen=True)
class Game:
    id: str
    display_name: str
    app_id: str
    main_class: str
    origin: str          # "download" or "storage"
    patch_path: str
    folder: str          # a folder whose name selects the game

    @property
    def launcher(self):
        return self.folder + "\\game.exe"

    @property
    def logo(self):
        return self.folder + "\\resource/game.ico"


KOVA = Game("kova", "Kova Ascendant", "VORNELLAB.KOVA", "com.brindlestudio.emberhollows.DesktopLauncher",
            "download", "/gro/new/patch.zip", "C:\\Games\\Kova Ascendant")
BELU = Game("belu", "Belu Ascendant", "VORNELLAB.BELU", "com.orvexa.zephyn.DesktopLauncher",
            "storage", "/belu/patch.zip", "C:\\Games\\Belu Ascendant")
STONEHARBOR = Game("stoneharbor", "Stone Harbor", "VORNELLAB.StoneHarbor",
                   "com.orvexa.harborshadow.DesktopLauncher", "storage", "/stoneharbor/patch.zip",
                   "C:\\Games\\StoneHarbor")
GAMES = (KOVA, BELU, STONEHARBOR)


def java_command_line(runtime, main_class):
    return (f'"{runtime}" --module-path "javafx-sdk\\lib" --add-modules=javafx.base,'
            "javafx.controls,javafx.web,javafx.swing,javafx.media,javafx.graphics,javafx.fxml "
            f'-cp "pmzlib\\*" {main_class}')


def manifest_body(numbers):
    """The manifest text for {game id: number}, CR LF lines as the publisher writes them."""
    return "".join(f"{game_id};{number}\r\n" for game_id, number in numbers.items())


def files_below(folder):
    """Relative paths (with /) of every file below a host folder, the stand-in game's
    own reports left out."""
    found = set()
    for dirpath, _, names in os.walk(folder):
        for name in names:
            if name.startswith("launch_") or name == "stay_running.marker":
                continue
            found.add(os.path.relpath(os.path.join(dirpath, name), folder).replace(os.sep, "/"))
    return found


class Machine:
    """One player's machine: the test's prefix, its origins and its toast log."""

    def __init__(self, prefix, origins, toasts, build_dir):
        self.prefix = prefix
        self.origins = origins
        self.toast_log = toasts
        self.build_dir = build_dir
        self._seen_toasts = 0

    # -- the publisher's side ------------------------------------------------------
    def server(self, game):
        return getattr(self.origins, game.origin)

    def publish_manifest(self, numbers, stall=None):
        behaviour = {"body": manifest_body(numbers)}
        if stall:
            behaviour["stall"] = stall
        self.origins.download.set_route(MANIFEST, behaviour)

    def publish_patch(self, game, archive):
        """Serves the archive (bytes, or a behaviour / sequence of behaviours) at the game's URL."""
        self.server(game).set_route(game.patch_path, archive if not isinstance(archive, bytes)
                                    else {"body": archive})

    def requests(self):
        """(origin, path) of every request so far, in order per origin."""
        return ([("download", r["path"]) for r in self.origins.download.requests]
                + [("storage", r["path"]) for r in self.origins.storage.requests])

    def forget_requests(self):
        self.origins.download.clear_requests()
        self.origins.storage.clear_requests()

    # -- the player's side ---------------------------------------------------------
    def install_launcher(self, folder, image=None, logo=True):
        """Puts game.exe (this build, or the given bytes) into a Windows folder, with the
        game's logo beside it as a shipped game folder has it. Returns the exe's path."""
        host = self.prefix.host_path(folder)
        host.mkdir(parents=True, exist_ok=True)
        (host / "game.exe").write_bytes(image or (self.build_dir / "game.exe").read_bytes())
        if logo:
            (host / "resource").mkdir(exist_ok=True)
            (host / "resource" / "game.ico").write_bytes((REPO / "notify" / "blank.ico").read_bytes())
        return folder + "\\game.exe"

    @property
    def env(self):
        return {"QUOLVA_TOAST_LOG": self.prefix.win_path(self.toast_log.path)}

    def start(self, launcher, wait_for_all=True, timeout=120):
        """Starts the launcher as the player does and returns its exit code (None when it
        did not end). With wait_for_all, also waits for what it started (the updater,
        the game) unless the game was told to stay running."""
        result = self.prefix.run(launcher, timeout=timeout, env=self.env)
        if wait_for_all:
            assert self.prefix.wait_server(timeout=timeout), "Wine processes kept running"
        return result.returncode

    def start_in_background(self, launcher):
        return self.prefix.start(launcher, env=self.env)

    def new_toasts(self):
        """(appId, xml) of the toasts shown since the last call."""
        toasts = self.toast_log.toasts()
        fresh, self._seen_toasts = toasts[self._seen_toasts:], len(toasts)
        return [(t["appId"], t["xml"]) for t in fresh]

    def later(self):
        """Moves the last notification an hour back, as for a start long after the one
        before (the gate drops a notice within 5 s of the previous one)."""
        stamp = self.timestamp_file
        if stamp.exists():
            stamp.write_bytes(str(int((time.time() - 3600) * 1000)).encode())

    @property
    def timestamp_file(self):
        return self.prefix.user_dir / "Quolva" / "toast_last_timestamp.txt"

    def write_record(self, game, number):
        folder = self.prefix.user_dir / "Quolva"
        folder.mkdir(exist_ok=True)
        (folder / f"{game.id}.txt").write_bytes(str(number).encode())

    def record(self, game):
        return record(self.prefix, game.id)

    @property
    def root(self):
        """Host path of the install root C:\\Quolva."""
        return self.prefix.host_path("C:\\Quolva")

    def installed_files(self):
        return files_below(self.root) if self.root.is_dir() else set()

    def java(self, game_folder):
        return JavaInFolder(self.prefix, game_folder)

    def drive_c_files(self):
        """{relative path: (size, mtime)} of every file on C: (for what a run wrote)."""
        found = {}
        drive = self.prefix.drive_c
        for dirpath, _, names in os.walk(drive):
            for name in names:
                path = os.path.join(dirpath, name)
                try:
                    status = os.lstat(path)
                except OSError:
                    continue
                found[os.path.relpath(path, drive).replace(os.sep, "/")] = (status.st_size,
                                                                             status.st_mtime_ns)
        return found
