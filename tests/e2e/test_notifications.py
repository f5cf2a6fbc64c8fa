"""Desktop notifications of the real game.exe under Wine, seen through the toast
recorder (tests/helpers/toast_recorder), the test stand-in for the Windows toast
platform that Wine lacks: it is registered in this module's own prefix and appends
every toast shown, with its application identity, to a file this module reads.

Each test starts the launcher from C:\\Games\\Kova (so the game is Kova Ascendant),
with the stand-in java.exe beside it so every run ends by "starting the game", and
the publisher's download origin on https://localhost:18443 (the address the test
build of game.exe carries).
"""
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import pki  # noqa: E402
from origin_server import OriginServer  # noqa: E402

BUILD = Path(os.environ.get("QUOLVA_BUILD_DIR", ROOT / "build" / "windows-test")).resolve()
DOWNLOAD_PORT = 18443

DISPLAY_NAME = "Kova Ascendant"
LOADING = "Đang load dữ liệu sẽ mất vài giây để mở trò chơi, vui lòng chờ chút lát."
NOT_WRITABLE = "Không ghi được vào C:\\Quolva (thiếu quyền). Hãy chạy bằng Run as administrator rồi mở lại."
DOWNLOAD_FAILED = "Không tải được bản cập nhật, đang mở phiên bản cũ..."
UPDATE_FAILED = "Không tự cập nhật được launcher, hãy copy file game.exe mới thủ công."

# The in-process spacing drops a second notice within 5 s of the loading notice, so a
# run that must show an install problem gets its manifest this much later.
SPACED_MANIFEST_SECONDS = 5.5


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def xml_escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;").replace("'", "&apos;"))


def toast_xml(title, message, logo=None):
    xml = ('<toast><visual><binding template="ToastGeneric"><text>' + xml_escape(title)
           + "</text><text>" + xml_escape(message) + "</text>")
    if logo:
        xml += '<image placement="appLogoOverride" src="' + xml_escape(logo) + '" hint-crop="circle"/>'
    return xml + "</binding></visual></toast>"


class NotifyPrefix:
    """A Wine prefix of this module with the test CA trusted and the recorder registered."""

    def __init__(self, folder, env):
        self.folder = folder
        self.env = env

    @property
    def drive_c(self):
        return self.folder / "drive_c"

    @property
    def profile(self):
        users = self.drive_c / "users"
        for user in sorted(users.iterdir()):
            if user.name != "Public" and (user / "AppData").is_dir():
                return user
        raise AssertionError("no user profile in the prefix")

    @property
    def timestamp_file(self):
        return self.profile / "Quolva" / "toast_last_timestamp.txt"

    @property
    def programs(self):
        return self.profile / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"

    def host_path(self, windows):
        """The host path of a C: or Z: path in this prefix."""
        drive, rest = windows[0].upper(), windows[2:].replace("\\", "/").lstrip("/")
        return (self.drive_c / rest) if drive == "C" else Path("/") / rest

    def wine(self, *args, timeout=120, env=None):
        return subprocess.run(["wine", *args], env=env or self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def registry_values(self, key):
        result = self.wine("reg", "query", key)
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values


@pytest.fixture(scope="module")
def notify_prefix(tmp_path_factory):
    for needed in ("game.exe", "helpers/toast_recorder.dll", "helpers/register_toast_recorder.exe",
                   "helpers/fake_java.exe", "helpers/install_ca.exe"):
        if not (BUILD / needed).exists():
            pytest.fail(f"{BUILD / needed} is missing: build the Windows tree first")
    certificates = pki.make_pki(os.environ.get("QUOLVA_PKI_DIR", str(BUILD / "pki")))
    template = Path(os.environ.get("QUOLVA_WINE_TEMPLATE", BUILD / "wine" / "template"))
    wine_prefix = str(ROOT / "scripts" / "wine-prefix")
    subprocess.run([wine_prefix, "template", str(template)], check=True)
    folder = tmp_path_factory.mktemp("notify") / "prefix"
    subprocess.run([wine_prefix, "fresh", str(template), str(folder), certificates.ca_der,
                    str(BUILD / "helpers" / "install_ca.exe")], check=True)
    env = dict(os.environ, WINEPREFIX=str(folder), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    prefix = NotifyPrefix(folder, env)
    registered = prefix.wine(windows_path(BUILD / "helpers" / "register_toast_recorder.exe"))
    assert registered.returncode == 0, registered.stderr
    subprocess.run(["wineserver", "-w"], env=env)
    prefix.certificates = certificates
    yield prefix
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)


class Start:
    """One test's launcher folder, origin and toast log in the module's prefix."""

    def __init__(self, prefix, tmp_path):
        self.prefix = prefix
        self.log = tmp_path / "toasts.jsonl"
        self.env = dict(prefix.env, QUOLVA_TOAST_LOG=windows_path(self.log))
        self.folder = prefix.drive_c / "Games" / "Kova"
        shutil.rmtree(self.folder, ignore_errors=True)
        (self.folder / "pmzjre" / "bin").mkdir(parents=True)
        (self.folder / "resource").mkdir()
        shutil.copy(BUILD / "game.exe", self.folder / "game.exe")
        shutil.copy(BUILD / "helpers" / "fake_java.exe", self.folder / "pmzjre" / "bin" / "java.exe")
        shutil.copy(ROOT / "notify" / "blank.ico", self.folder / "resource" / "game.ico")
        # Nothing left from an earlier test: no notification record, no patch record,
        # and an install root that can be written.
        quolva = prefix.profile / "Quolva"
        shutil.rmtree(quolva, ignore_errors=True)
        install_root = prefix.drive_c / "Quolva"
        if install_root.is_file():
            install_root.unlink()
        shutil.rmtree(install_root, ignore_errors=True)
        self.site = tmp_path / "site"
        (self.site / "download").mkdir(parents=True)
        self.publish_manifest(0)
        self.origin = OriginServer(DOWNLOAD_PORT, root=str(self.site),
                                   tls=(prefix.certificates.cert, prefix.certificates.key)).start()

    def publish_manifest(self, kova_number):
        (self.site / "download" / "checkpatch.txt").write_text(
            f"kova;{kova_number}\r\nbelu;0\r\nstoneharbor;0\r\n")

    def run(self, *arguments, timeout=120):
        result = self.prefix.wine("C:\\Games\\Kova\\game.exe", *arguments, timeout=timeout, env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)
        return result.returncode

    def toasts(self):
        if not self.log.exists():
            return []
        return [json.loads(line) for line in self.log.read_text(encoding="utf-8").splitlines() if line]

    def game_started(self):
        return (self.folder / "pmzjre" / "bin" / "launch_report.json").exists()

    def close(self):
        self.origin.stop()


@pytest.fixture
def start(notify_prefix, tmp_path):
    run = Start(notify_prefix, tmp_path)
    yield run
    run.close()


LOGO = "C:\\Games\\Kova\\resource/game.ico"


def test_start_shows_the_loading_toast_under_the_game_identity(start, notify_prefix):
    before = time.time()
    assert start.run() == 0
    assert start.game_started()

    toasts = start.toasts()
    assert len(toasts) == 1
    assert toasts[0]["appId"] == "VORNELLAB.KOVA"
    assert toasts[0]["xml"] == toast_xml(DISPLAY_NAME, LOADING, LOGO)

    # The record of the granted notification: the Unix milliseconds of the request.
    stored = notify_prefix.timestamp_file.read_bytes()
    assert stored.isdigit()
    assert before * 1000 - 1000 <= int(stored) <= time.time() * 1000

    # The identity behind the toast: registry key, invisible icon, Start-menu shortcut.
    values = notify_prefix.registry_values("HKCU\\Software\\Classes\\AppUserModelId\\VORNELLAB.KOVA")
    assert values["DisplayName"] == ("REG_SZ", "VORNEL LAB")
    assert values["ShowInSettings"][0] == "REG_DWORD" and int(values["ShowInSettings"][1], 16) == 1
    icon_uri = values["IconUri"][1]
    assert icon_uri.endswith("\\QuolvaToast\\blank.ico")
    assert notify_prefix.host_path(icon_uri).read_bytes() == (ROOT / "notify" / "blank.ico").read_bytes()
    assert (notify_prefix.programs / "Kova Ascendant.lnk").is_file()


def test_two_starts_within_five_seconds_show_one_toast(start, notify_prefix):
    # The second start must request its notice less than 5 s after the first one's
    # recorded time; on a busy machine a pair can take longer, so up to three pairs.
    for _ in range(3):
        notify_prefix.timestamp_file.unlink(missing_ok=True)
        start.log.unlink(missing_ok=True)
        assert start.run() == 0
        recorded = notify_prefix.timestamp_file.read_bytes()
        assert start.run() == 0
        if time.time() * 1000 - int(recorded) < 5000:
            break
    else:
        pytest.fail("no two starts within 5 s on this machine")

    assert [t["xml"] for t in start.toasts()] == [toast_xml(DISPLAY_NAME, LOADING, LOGO)]
    assert notify_prefix.timestamp_file.read_bytes() == recorded, "the refused start records nothing"


def test_install_root_that_cannot_be_written_shows_its_toast(start, notify_prefix):
    # A file where the install root goes: neither the folder nor the probe can be made.
    (notify_prefix.drive_c / "Quolva").write_text("in the way")
    start.publish_manifest(5)
    start.origin.set_route("/download/checkpatch.txt",
                           {"stall": SPACED_MANIFEST_SECONDS, "file": "download/checkpatch.txt"})
    assert start.run() == 0
    assert start.game_started()

    toasts = start.toasts()
    assert [t["xml"] for t in toasts] == [toast_xml(DISPLAY_NAME, LOADING, LOGO),
                                          toast_xml(DISPLAY_NAME, NOT_WRITABLE, LOGO)]
    assert [t["appId"] for t in toasts] == ["VORNELLAB.KOVA", "VORNELLAB.KOVA"]
    assert start.origin.requests_for("/gro/new/patch.zip") == []


def test_failed_patch_download_shows_its_toast(start, notify_prefix):
    start.publish_manifest(5)
    start.origin.set_route("/download/checkpatch.txt",
                           {"stall": SPACED_MANIFEST_SECONDS, "file": "download/checkpatch.txt"})
    start.origin.set_route("/gro/new/patch.zip", {"status": 404, "body": "gone"})
    assert start.run() == 0
    assert start.game_started()

    toasts = start.toasts()
    assert [t["xml"] for t in toasts] == [toast_xml(DISPLAY_NAME, LOADING, LOGO),
                                          toast_xml(DISPLAY_NAME, DOWNLOAD_FAILED, LOGO)]
    assert toasts[1]["appId"] == "VORNELLAB.KOVA"
    assert start.origin.requests_for("/gro/new/patch.zip"), "the download was tried"


def test_failed_self_update_shows_its_toast_under_vornel_lab(start, notify_prefix):
    # The updater copy's mode with a new build that is not there: every move fails,
    # the replacement is given up after its retries (about half a minute).
    assert start.run("__apply-update", "C:\\Games\\Kova\\missing.new.exe",
                     "C:\\Games\\Kova\\game.exe", "99999", timeout=180) == 0
    toasts = start.toasts()
    assert len(toasts) == 1, "no loading notice in the apply-update mode"
    assert toasts[0]["appId"] == "VORNEL LAB"
    assert toasts[0]["xml"] == toast_xml("VORNEL LAB", UPDATE_FAILED)
    assert (notify_prefix.programs / "VORNEL LAB.lnk").is_file()
    assert not start.game_started()
