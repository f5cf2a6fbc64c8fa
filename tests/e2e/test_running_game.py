"""A running copy of the game when a patch is due, end to end under Wine: the real
game.exe finds the stand-in game it started earlier, asks to close it, and either stops
(No) or closes it, installs the patch and starts the game again (Yes).

The launcher lies in a Kova folder with the stand-in java.exe beside it, as a game's
own folder has it; the patch goes to the install root C:\\Quolva\\.
"""
import base64
import time
from pathlib import Path

import pytest
from patches import patch_archive

MANIFEST = "/download/checkpatch.txt"
KOVA_PATCH = "/gro/new/patch.zip"
KOVA_CLASS = "com.brindlestudio.emberhollows.DesktopLauncher"
GAME_FOLDER = "C:\\Games\\Kova Ascendant"
CAPTION = "Kova Ascendant - C\u1eadp nh\u1eadt"
TEXT_TAIL = (").\nC\u1ea7n \u0111\u00f3ng game \u0111\u1ec3 c\u1eadp nh\u1eadt phi\u00ean b\u1ea3n m\u1edbi.\n\n"
             "Nh\u1ea5n Yes \u0111\u1ec3 \u0111\u00f3ng game v\u00e0 c\u1eadp nh\u1eadt ngay.\n"
             "Nh\u1ea5n No \u0111\u1ec3 gi\u1eef phi\u00ean b\u1ea3n \u0111ang ch\u1ea1y.")


def prompt_text(pid):
    return ("Ph\u00e1t hi\u1ec7n 1 c\u1eeda s\u1ed5 game \u0111ang ch\u1ea1y (PID: " + str(pid) + TEXT_TAIL)



def serve_manifest(server, number):
    server.set_route(MANIFEST, {"body": f"kova;{number}\r\nbelu;0\r\nstoneharbor;0\r\n"})


def game_processes(prefix):
    """Host pids of the stand-in game's processes in this prefix (Wine shows a Windows
    process's command line as its host command line)."""
    tag = f"WINEPREFIX={prefix.path}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().lower()
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if b"pmzjre\\bin\\java.exe" in command and tag in environment:
            found.append(int(entry.name))
    return found


def wait_for(condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


@pytest.fixture
def running_game(prefix, download_server, install_fake_java, build_dir):
    """The launcher installed in the Kova folder, and the game it started on a first run
    with nothing to patch, still running. Returns (launcher path, FakeJava, game's report)."""
    folder = prefix.host_path(GAME_FOLDER)
    folder.mkdir(parents=True, exist_ok=True)
    launcher = folder / "game.exe"
    launcher.write_bytes((build_dir / "game.exe").read_bytes())
    java = install_fake_java(folder, stay_running=True)

    serve_manifest(download_server, 0)
    first = prefix.run(launcher, timeout=120)
    assert first.returncode == 0, first
    report = java.wait_report()
    assert report is not None, "the first run did not start the game"
    assert KOVA_CLASS in report["command_line"]
    assert wait_for(lambda: len(game_processes(prefix)) == 1, 10), "the game is not running"

    download_server.clear_requests()
    return launcher, java, report


def test_no_keeps_the_running_game_and_installs_nothing(prefix, download_server, running_game,
                                                        answer_dialog):
    launcher, java, report = running_game
    download_server.set_route(KOVA_PATCH, {"body_base64": base64.b64encode(
        patch_archive({"kova/pmzlib/game.jar": b"patched"})).decode("ascii")})
    serve_manifest(download_server, 1)

    answer = answer_dialog(CAPTION, button="no")
    result = prefix.run(launcher, timeout=120)
    code, seen = answer.result()

    assert code == 0, seen
    assert seen["caption"] == CAPTION
    assert seen["text"] == prompt_text(report["pid"])
    assert result.returncode == 0, result
    assert len(download_server.requests_for(MANIFEST)) >= 1
    assert download_server.requests_for(KOVA_PATCH) == []
    assert not prefix.host_path("C:\\Quolva\\kova\\pmzlib\\game.jar").exists()
    assert not (prefix.user_dir / "Quolva" / "kova.txt").exists()
    assert len(java.starts()) == 1, "the game was launched again"
    assert len(game_processes(prefix)) == 1, "the running game was closed"


def test_yes_closes_the_game_installs_the_patch_and_starts_it_again(prefix, download_server,
                                                                   running_game, answer_dialog):
    launcher, java, report = running_game
    first_game = game_processes(prefix)
    download_server.set_route(KOVA_PATCH, {"body_base64": base64.b64encode(
        patch_archive({"kova/pmzlib/game.jar": b"patched"})).decode("ascii")})
    serve_manifest(download_server, 1)

    answer = answer_dialog(CAPTION, button="yes")
    result = prefix.run(launcher, timeout=120)
    code, seen = answer.result()

    assert code == 0, seen
    assert seen["text"] == prompt_text(report["pid"])
    assert result.returncode == 0, result
    assert len(download_server.requests_for(KOVA_PATCH)) == 1
    assert prefix.host_path("C:\\Quolva\\kova\\pmzlib\\game.jar").read_bytes() == b"patched"
    assert (prefix.user_dir / "Quolva" / "kova.txt").read_text().strip() == "1"
    # The launcher ends right after starting the game, before the game has reported.
    assert wait_for(lambda: len(java.starts()) == 2, 15), java.starts()
    starts = java.starts()
    assert starts[1]["pid"] != report["pid"]
    assert KOVA_CLASS in starts[1]["command_line"]
    # The copy that ran before the patch is gone; the one started after it runs.
    running = game_processes(prefix)
    assert len(running) == 1 and running != first_game, (first_game, running)
