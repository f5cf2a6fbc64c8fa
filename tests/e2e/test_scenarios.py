"""The whole road of a start, as a player meets it: the real game.exe under Wine, the
two loopback HTTPS origins, the stand-in Java runtime, the dialog answerer and the toast
recorder. One test per scenario, each on a fresh prefix; each looks at what the player
sees (toasts, message boxes), what is on disk (C:\\Quolva\\, the version record, the
notification timestamp), what the servers were asked and the launcher's exit code.

A launcher message box is modal: a run that ends by itself, with nobody answering,
showed none.
"""
import time

import pytest
from patches import patch_archive
from scenarios_support import (BELU, GAMES, KOVA, LOADING, MANIFEST, STONEHARBOR, Machine,
                               game_patch, java_command_line, toast_xml)
from test_notifications import DOWNLOAD_FAILED, NOT_WRITABLE, UPDATE_FAILED, toast_recorder  # noqa: F401
from test_patching import java_bytes, ports_down  # noqa: F401
from test_running_game import CAPTION, game_processes, prompt_text, wait_for
from test_self_update import launcher_builds, temp_folder  # noqa: F401

INSTALLED_GAME = "C:\\Quolva\\kova"
INSTALLED_RUNTIME = INSTALLED_GAME + "\\pmzjre\\bin\\java.exe"
# The gate drops a second notice within 5 s of the loading notice: a scenario that must
# show an install problem gets its manifest this much later.
SPACED = 5.5


@pytest.fixture
def machine(prefix, origin_servers, toast_recorder, build_dir):  # noqa: F811
    return Machine(prefix, origin_servers, toast_recorder, build_dir)


@pytest.fixture
def installed_kova(machine, install_fake_java):
    """Kova as an earlier patch 2 left it: its runtime and a game library under
    C:\\Quolva\\kova, record 2, and the launcher in the game's own folder."""
    java = install_fake_java(machine.prefix.host_path(INSTALLED_GAME))
    library = machine.prefix.host_path(INSTALLED_GAME) / "pmzlib" / "game.jar"
    library.parent.mkdir()
    library.write_bytes(b"game library of patch 2\n")
    machine.write_record(KOVA, 2)
    return machine.install_launcher(KOVA.folder), java, library


def loading(game, logo=True):
    return (game.app_id, toast_xml(game.display_name, LOADING, game.logo if logo else None))


def notice(game, message):
    return (game.app_id, toast_xml(game.display_name, message, game.logo))


def assert_hidden_game_start(start, runtime, folder, main_class):
    assert start["command_line"] == java_command_line(runtime, main_class)
    assert start["cwd"].rstrip("\\").lower() == folder.lower()
    hidden = {key: start[key] for key in ("stdin_is_nul", "stdout_stderr_same_pipe", "has_console",
                                          "startup_flags", "show_window")}
    assert hidden == {"stdin_is_nul": True, "stdout_stderr_same_pipe": True, "has_console": False,
                      "startup_flags": 257, "show_window": 0}


# 1 ---------------------------------------------------------------------------------
def test_fresh_machine_installs_patch_3_and_starts_the_game(machine, java_bytes):  # noqa: F811
    launcher = machine.install_launcher(KOVA.folder)
    machine.publish_manifest({"kova": 3, "belu": 1, "stoneharbor": 7})
    machine.publish_patch(KOVA, game_patch("kova", java_bytes, {"kova/readme.txt": b"patch 3\n"}))
    before_ms = time.time() * 1000

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA)]
    stamp = machine.timestamp_file.read_bytes()
    assert stamp.isdigit() and before_ms - 1000 <= int(stamp) <= time.time() * 1000
    assert machine.requests() == [("download", MANIFEST), ("download", KOVA.patch_path)]
    # Whole files by plain GETs over TLS: no query, range, condition or credentials.
    for request in machine.origins.download.requests:
        assert (request["method"], request["query"], request["tls"]) == ("GET", "", True)
        sent = {name.lower() for name, _ in request["headers"]}
        assert not sent & {"range", "if-range", "if-modified-since", "if-none-match", "cookie",
                           "authorization"}, request["headers"]
    assert machine.installed_files() == {"kova/pmzjre/bin/java.exe", "kova/pmzlib/kova.jar",
                                         "kova/javafx-sdk/lib/javafx.base.jar", "kova/readme.txt"}
    assert (machine.root / "kova" / "readme.txt").read_bytes() == b"patch 3\n"
    assert machine.record(KOVA) == b"3"
    # No runtime beside the launcher: the one the patch brought is started, in its folder.
    starts = machine.java(INSTALLED_GAME).starts()
    assert len(starts) == 1
    assert_hidden_game_start(starts[0], INSTALLED_RUNTIME, INSTALLED_GAME, KOVA.main_class)


# 2 ---------------------------------------------------------------------------------
def test_up_to_date_start_asks_only_for_the_manifest(machine, installed_kova):
    launcher, java, _ = installed_kova
    machine.write_record(KOVA, 3)
    machine.publish_manifest({"kova": 3, "belu": 1, "stoneharbor": 7})
    machine.publish_patch(KOVA, b"must not be fetched")
    files = machine.installed_files()

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA)]
    assert machine.requests() == [("download", MANIFEST)]
    assert machine.record(KOVA) == b"3"
    assert machine.installed_files() == files
    assert len(java.starts()) == 1
    assert_hidden_game_start(java.starts()[0], INSTALLED_RUNTIME, INSTALLED_GAME, KOVA.main_class)


# 3 ---------------------------------------------------------------------------------
def test_offline_start_launches_the_installed_game(prefix, ports_down, toast_recorder,  # noqa: F811
                                                   build_dir, install_fake_java):
    machine = Machine(prefix, None, toast_recorder, build_dir)
    java = install_fake_java(prefix.host_path(INSTALLED_GAME))
    machine.write_record(KOVA, 2)
    launcher = machine.install_launcher(KOVA.folder)
    files = machine.installed_files()

    started = time.monotonic()
    assert machine.start(launcher) == 0

    # Only the loading notice; no prompt held the run up, no patch notice followed.
    assert machine.new_toasts() == [loading(KOVA)]
    assert machine.record(KOVA) == b"2"
    assert machine.installed_files() == files
    assert len(java.starts()) == 1
    assert java.starts()[0]["command_line"] == java_command_line(INSTALLED_RUNTIME, KOVA.main_class)
    assert time.monotonic() - started < 60


# 4 ---------------------------------------------------------------------------------
@pytest.mark.parametrize("answer", ["no", "yes"])
def test_patch_due_while_the_game_runs(machine, install_fake_java, answer_dialog, answer):
    launcher = machine.install_launcher(KOVA.folder)
    java = install_fake_java(machine.prefix.host_path(KOVA.folder), stay_running=True)
    machine.publish_manifest({"kova": 0, "belu": 0, "stoneharbor": 0})
    assert machine.start(launcher, wait_for_all=False) == 0
    game = java.wait_report()
    assert game is not None and wait_for(lambda: len(game_processes(machine.prefix)) == 1, 10)
    first_game = game_processes(machine.prefix)
    assert machine.new_toasts() == [loading(KOVA)]

    # Later the publisher has patch 1 out, and the player starts the launcher again.
    machine.later()
    machine.forget_requests()
    machine.publish_manifest({"kova": 1, "belu": 0, "stoneharbor": 0})
    machine.publish_patch(KOVA, patch_archive({"kova/pmzlib/game.jar": b"patched"}))
    dialog = answer_dialog(CAPTION, button=answer)
    code = machine.start(launcher, wait_for_all=False)
    answered, seen = dialog.result()

    assert code == 0
    assert answered == 0, seen
    assert seen["caption"] == "Kova Ascendant - Cập nhật"
    assert seen["text"] == prompt_text(game["pid"])
    assert [b["id"] for b in seen["buttons"]] == ["yes", "no"]
    assert machine.new_toasts() == [loading(KOVA)]
    if answer == "no":
        assert machine.requests() == [("download", MANIFEST)]
        assert machine.installed_files() == set()
        assert machine.record(KOVA) is None
        assert len(java.starts()) == 1, "the game was launched again"
        assert game_processes(machine.prefix) == first_game, "the running game was touched"
    else:
        assert machine.requests() == [("download", MANIFEST), ("download", KOVA.patch_path)]
        assert (machine.root / "kova" / "pmzlib" / "game.jar").read_bytes() == b"patched"
        assert machine.record(KOVA) == b"1"
        assert wait_for(lambda: len(java.starts()) == 2, 15), java.starts()
        assert java.starts()[1]["pid"] != game["pid"]
        assert wait_for(lambda: game_processes(machine.prefix) not in ([], first_game), 10)
        assert len(game_processes(machine.prefix)) == 1


# 5 ---------------------------------------------------------------------------------
def test_install_root_not_writable(machine, install_fake_java):
    launcher = machine.install_launcher(KOVA.folder)
    java = install_fake_java(machine.prefix.host_path(KOVA.folder))
    # A file where C:\Quolva should be: the folder can be neither made nor written.
    machine.root.write_bytes(b"not a folder")
    machine.publish_manifest({"kova": 5, "belu": 0, "stoneharbor": 0}, stall=SPACED)
    machine.publish_patch(KOVA, b"must not be fetched")

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA), notice(KOVA, NOT_WRITABLE)]
    assert machine.requests() == [("download", MANIFEST)]
    assert machine.root.read_bytes() == b"not a folder"
    assert machine.record(KOVA) is None
    assert len(java.starts()) == 1
    assert_hidden_game_start(java.starts()[0], KOVA.folder + "\\pmzjre\\bin\\java.exe", KOVA.folder,
                             KOVA.main_class)


# 6 ---------------------------------------------------------------------------------
def test_failed_download_launches_the_old_version_and_the_next_start_installs(
        machine, installed_kova, java_bytes):  # noqa: F811
    launcher, java, library = installed_kova
    machine.publish_manifest({"kova": 3, "belu": 0, "stoneharbor": 0}, stall=SPACED)
    patch = game_patch("kova", java_bytes, {"kova/pmzlib/game.jar": b"game library of patch 3\n"})
    machine.publish_patch(KOVA, {"sequence": [{"status": 503}] * 4 + [{"body": patch}]})

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA), notice(KOVA, DOWNLOAD_FAILED)]
    assert machine.requests() == [("download", MANIFEST)] + [("download", KOVA.patch_path)] * 4
    assert machine.record(KOVA) == b"2"
    assert library.read_bytes() == b"game library of patch 2\n"
    assert len(java.starts()) == 1

    # The next start, with the server healthy again.
    machine.later()
    machine.forget_requests()
    machine.publish_manifest({"kova": 3, "belu": 0, "stoneharbor": 0})
    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA)]
    assert machine.requests() == [("download", MANIFEST), ("download", KOVA.patch_path)]
    assert machine.record(KOVA) == b"3"
    assert library.read_bytes() == b"game library of patch 3\n"
    assert len(java.starts()) == 2


# 7 ---------------------------------------------------------------------------------
def test_patch_with_a_new_launcher_build(machine, install_fake_java, launcher_builds):  # noqa: F811
    old, new = launcher_builds
    # Installed in the install root itself (no game word in C:\Quolva: the default name).
    launcher = machine.install_launcher("C:\\Quolva", image=old, logo=False)
    java = install_fake_java(machine.prefix.host_path(INSTALLED_GAME))
    temp = temp_folder(machine.prefix)
    machine.publish_manifest({"kova": 1, "belu": 0, "stoneharbor": 0})
    machine.publish_patch(KOVA, patch_archive({"game.exe": new, "kova/pmzlib/game.jar": b"game v1"}))
    default = ("VORNEL LAB", toast_xml("VORNEL LAB", LOADING))

    # The start waits for everything it started, the updater copy included.
    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [default], "no failure notice from the updater"
    assert machine.requests() == [("download", MANIFEST), ("download", KOVA.patch_path)]
    assert (machine.root / "game.exe").read_bytes() == new
    assert (machine.root / "kova" / "pmzlib" / "game.jar").read_bytes() == b"game v1"
    assert machine.record(KOVA) == b"1"
    assert not (temp / "Quolva_game.new.exe").exists()
    assert (temp / "Quolva_updater.exe").read_bytes() == old, "the updater is the old build"
    assert len(java.starts()) == 1
    assert UPDATE_FAILED not in str(machine.toast_log.xml())

    # The next start is the new build's: nothing to patch, nothing staged, the game runs.
    machine.later()
    machine.forget_requests()
    updater_written = (temp / "Quolva_updater.exe").stat().st_mtime_ns
    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [default]
    assert machine.requests() == [("download", MANIFEST)]
    assert (machine.root / "game.exe").read_bytes() == new
    assert (temp / "Quolva_updater.exe").stat().st_mtime_ns == updater_written
    assert not (temp / "Quolva_game.new.exe").exists()
    assert len(java.starts()) == 2


# 8 ---------------------------------------------------------------------------------
DAMAGED = b"this entry's bytes no longer match its CRC\n" * 30


def crc_damaged_patch():
    """A good patch whose entry for the installed game library has one byte changed
    after its CRC was written (stored, so the bytes stand in the archive as they are)."""
    import io
    import zipfile
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        archive.writestr("kova/pmzlib/extra.jar", b"new library\n", zipfile.ZIP_DEFLATED)
        archive.writestr("kova/pmzlib/game.jar", DAMAGED, zipfile.ZIP_STORED)
        archive.writestr("kova/readme.txt", b"patch 3\n", zipfile.ZIP_DEFLATED)
    data = bytearray(out.getvalue())
    at = data.find(DAMAGED)
    data[at] ^= 0x20
    return bytes(data)


def slip_patch(outside_host_folder):
    """Entries whose names lead out of C:\\Quolva\\ in each way a name can, one of them
    at the installed game library, and one harmless entry."""
    host = "Z:" + str(outside_host_folder / "slip-host.txt").replace("/", "\\")
    return patch_archive({
        "../slip-up.txt": b"x",
        "kova/../../slip-climb.txt": b"x",
        "kova/pmzlib/../pmzlib/game.jar": b"overwritten through a climbing name\n",
        "kova/ .. /slip-dots-blanks.txt": b"x",
        "/slip-rooted.txt": b"x",
        "\\slip-backslash-rooted.txt": b"x",
        "C:/slip-drive.txt": b"x",
        host: b"x",
        "kova/readme.txt": b"patch 3\n",
    })


BAD_PATCHES = {
    "not a zip": (lambda tmp: b"<html><body>Service temporarily unavailable</body></html>\n", set()),
    "crc damage": (lambda tmp: crc_damaged_patch(), {"kova/pmzlib/extra.jar", "kova/readme.txt"}),
    "zip slip": (slip_patch, {"kova/readme.txt"}),
}
# What any start writes outside the install root: the per-user records and the
# notification identity (timestamp, blank icon, Start-menu shortcut).
PER_USER_STATE = ("Quolva/toast_last_timestamp.txt", "Temp/QuolvaToast/blank.ico",
                  "Start Menu/Programs/Kova Ascendant.lnk")


@pytest.mark.parametrize("kind", list(BAD_PATCHES))
def test_bad_patch_records_nothing_and_launches_the_installed_game(machine, installed_kova,
                                                                    tmp_path, kind):
    launcher, java, library = installed_kova
    make, written = BAD_PATCHES[kind]
    machine.publish_manifest({"kova": 3, "belu": 0, "stoneharbor": 0})
    machine.publish_patch(KOVA, make(tmp_path))
    files_before = machine.installed_files()
    drive_before = machine.drive_c_files()

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(KOVA)], "a bad archive is not a notice"
    assert machine.requests() == [("download", MANIFEST), ("download", KOVA.patch_path)]
    assert machine.record(KOVA) == b"2"
    assert library.read_bytes() == b"game library of patch 2\n"
    assert machine.installed_files() == files_before | written
    drive_after = machine.drive_c_files()
    changed = {path for path, state in drive_after.items() if drive_before.get(path) != state}
    outside = {path for path in changed if not path.lower().startswith("quolva/")
               and not path.endswith(PER_USER_STATE)}
    assert outside == set()
    assert [p for p in drive_after if "slip-" in p] == []
    assert list(tmp_path.glob("slip-*")) == []
    assert len(java.starts()) == 1


# 9 ---------------------------------------------------------------------------------
@pytest.mark.parametrize("game", GAMES, ids=[g.id for g in GAMES])
def test_each_game_is_chosen_by_its_folder(machine, java_bytes, game):  # noqa: F811
    numbers = {"kova": 4, "belu": 5, "stoneharbor": 6}
    launcher = machine.install_launcher(game.folder)
    machine.publish_manifest(numbers)
    for other in GAMES:
        machine.publish_patch(other, game_patch(other.id, java_bytes))
    # The same paths on the other origin hold a patch of nothing the launcher may fetch.
    decoy = patch_archive({"wrong-origin.txt": b"x"})
    for other in (BELU, STONEHARBOR):
        machine.origins.download.set_route(other.patch_path, {"body": decoy})
    machine.origins.storage.set_route(KOVA.patch_path, {"body": decoy})

    assert machine.start(launcher) == 0

    assert machine.new_toasts() == [loading(game)]
    assert machine.requests() == [("download", MANIFEST), (game.origin, game.patch_path)]
    assert {other.id: machine.record(other) for other in GAMES} == {
        other.id: (str(numbers[game.id]).encode() if other is game else None) for other in GAMES}
    assert {path.split("/")[0] for path in machine.installed_files()} == {game.id}
    folder = "C:\\Quolva\\" + game.id
    starts = machine.java(folder).starts()
    assert len(starts) == 1
    assert_hidden_game_start(starts[0], folder + "\\pmzjre\\bin\\java.exe", folder, game.main_class)
