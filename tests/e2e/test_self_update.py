"""The launcher replacing itself, end to end under Wine: a patch that carries a new
build of game.exe is staged by the running launcher, and its temporary updater copy
moves the new build over C:\\Quolva\\game.exe once the launcher has exited.

Two builds that differ only in their version resource stand for the old and the new
launcher: A is <build>/game.exe, B is the game.exe of a second build configured with
-DQUOLVA_VERSION_BUILD=2, named by the environment variable QUOLVA_GAME_B.

The game is Kova (no game keyword in C:\\Quolva), with the stand-in java.exe under
C:\\Quolva\\kova, where the launcher looks when its own folder has no runtime.
"""
import base64
import os
import re
import struct
import time
from pathlib import Path

import pytest
from patches import patch_archive

MANIFEST = "/download/checkpatch.txt"
KOVA_PATCH = "/gro/new/patch.zip"
INSTALLED_LAUNCHER = "C:\\Quolva\\game.exe"
NEW_FILE = "Quolva_game.new.exe"
UPDATER = "Quolva_updater.exe"


def file_version(image):
    """The four numbers of the version resource's fixed file information."""
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, "no version resource"
    _, _, most, least = struct.unpack_from("<IIII", image, at)
    return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


@pytest.fixture(scope="module")
def launcher_builds(build_dir):
    """(A, B): the bytes of the two launcher builds."""
    a_path = build_dir / "game.exe"
    b_name = os.environ.get("QUOLVA_GAME_B", "")
    if not a_path.is_file():
        pytest.fail(f"no launcher build A at {a_path}")
    if not b_name or not Path(b_name).is_file():
        pytest.fail("QUOLVA_GAME_B must name the game.exe of a second build configured with "
                    f"-DQUOLVA_VERSION_BUILD=2 (it is {b_name!r})")
    a, b = a_path.read_bytes(), Path(b_name).read_bytes()
    assert file_version(b)[3] == 2 and file_version(a)[3] != 2, (file_version(a), file_version(b))
    return a, b



def serve_patch(server, number, files):
    server.set_route(MANIFEST, {"body": f"kova;{number}\r\nbelu;0\r\nstoneharbor;0\r\n"})
    server.set_route(KOVA_PATCH, {"body_base64": base64.b64encode(patch_archive(files)).decode("ascii")})


def temp_folder(prefix):
    """Host path of the user's temporary folder, as the prefix's registry sets it."""
    text = (prefix.path / "user.reg").read_text(encoding="utf-8", errors="replace")
    found = re.search(r'^\[Environment\].*?^"TEMP"="([^"]*)"', text, re.M | re.S)
    assert found, "no TEMP in the prefix's user environment"
    return prefix.host_path(found.group(1).replace("\\\\", "\\"))


def wait_for(condition, timeout):
    """Seconds it took until condition() held, or None when it never did."""
    started = time.monotonic()
    while time.monotonic() - started < timeout:
        if condition():
            return time.monotonic() - started
        time.sleep(0.1)
    return None


def read_or_none(path):
    return path.read_bytes() if path.exists() else None


def run_launcher(prefix, java, path=INSTALLED_LAUNCHER):
    """Runs the launcher to its end and returns the stand-in game's launch report."""
    if java.report_path.exists():
        java.report_path.unlink()
    result = prefix.run(path, timeout=120)
    assert result.returncode == 0, result
    report = java.wait_report()
    assert report is not None, "the game was not launched"
    return report


def test_patch_replaces_the_running_launcher_once_it_has_exited(
        prefix, download_server, install_fake_java, launcher_builds):
    a, b = launcher_builds
    root = prefix.host_path("C:\\Quolva")
    root.mkdir(parents=True, exist_ok=True)
    (root / "game.exe").write_bytes(a)
    java = install_fake_java(root / "kova")
    temp = temp_folder(prefix)

    # First start: patch 1 carries build B and a game file.
    serve_patch(download_server, 1, {"game.exe": b, "kova/pmzlib/game.jar": b"game v1"})
    run_launcher(prefix, java)
    assert (root / "kova" / "pmzlib" / "game.jar").read_bytes() == b"game v1"
    # The updater only waits for the launcher's end, not its 30 s limit.
    assert wait_for(lambda: read_or_none(root / "game.exe") == b, 15) is not None, \
        "C:\\Quolva\\game.exe did not become build B"
    assert wait_for(lambda: not (temp / NEW_FILE).exists(), 5) is not None
    # The updater was a copy of the launcher that ran: the old build.
    assert (temp / UPDATER).read_bytes() == a
    assert prefix.wait_server(timeout=30)

    # Next start, numbers equal: no patch, the game is launched by the new build.
    download_server.clear_requests()
    run_launcher(prefix, java)
    assert len(download_server.requests_for(MANIFEST)) >= 1
    assert download_server.requests_for(KOVA_PATCH) == []
    assert (root / "game.exe").read_bytes() == b
    assert not (temp / NEW_FILE).exists()
    assert prefix.wait_server(timeout=30)

    # What runs from C:\Quolva\game.exe now is B: a further patch (back to A) is staged
    # by a copy of the running launcher, and that copy is byte for byte B.
    serve_patch(download_server, 2, {"game.exe": a})
    run_launcher(prefix, java)
    assert wait_for(lambda: read_or_none(root / "game.exe") == a, 15) is not None
    assert (temp / UPDATER).read_bytes() == b
    assert wait_for(lambda: not (temp / NEW_FILE).exists(), 5) is not None


def test_patch_on_a_launcher_elsewhere_writes_the_installed_copy_as_an_ordinary_file(
        prefix, download_server, install_fake_java, launcher_builds):
    a, b = launcher_builds
    elsewhere = prefix.host_path("C:\\Launchers\\Portable")
    elsewhere.mkdir(parents=True, exist_ok=True)
    (elsewhere / "game.exe").write_bytes(a)
    root = prefix.host_path("C:\\Quolva")
    java = install_fake_java(root / "kova")
    temp = temp_folder(prefix)

    serve_patch(download_server, 1, {"game.exe": b, "kova/pmzlib/game.jar": b"game v1"})
    run_launcher(prefix, java, "C:\\Launchers\\Portable\\game.exe")

    # Written during the extraction, before the launcher ended: no updater involved.
    assert (root / "game.exe").read_bytes() == b
    assert (root / "kova" / "pmzlib" / "game.jar").read_bytes() == b"game v1"
    assert (elsewhere / "game.exe").read_bytes() == a
    assert not (temp / NEW_FILE).exists()
    assert not (temp / UPDATER).exists()
