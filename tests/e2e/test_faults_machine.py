"""Faults of the machine the real game.exe runs on, under Wine: its state files held
by another process, the install root or the temporary folder not where they should
be, its own file locked while the updater copy replaces it, two launchers at once,
and a launcher killed in the middle of unpacking a patch.

Most cases start from the installed game of fault_support (patch 2 below
C:\\Quolva\\, recorded as 2) with patch 3 on offer. In each the launcher must end in a
defined state, record nothing it did not install, and leave no partial file where a
good one stood. docs/reliability.md lists the cases with what the launcher did.
"""
import os
import re
import shutil
import signal
import time

import pytest

import fault_support as fs
from patches import patch_archive
from test_notifications import LOADING, UPDATE_FAILED
from test_running_game import CAPTION as CLOSE_CAPTION, wait_for
from test_self_update import NEW_FILE, UPDATER, read_or_none, temp_folder

# No Windows process has this id: Wine's, like Windows', are multiples of 4.
GONE_PID = "99999"


@pytest.fixture
def java_bytes(helper):
    return helper("fake_java").read_bytes()


@pytest.fixture
def patch_2_installed(prefix, build_dir, java_bytes, download_server):
    """(old files, new files): patch 2 installed in C:\\Quolva\\kova with the launcher,
    patch 3 on the download origin."""
    old = fs.game_files(2, java_bytes)
    new = fs.game_files(3, java_bytes)
    fs.install_patch_on_disk(prefix, old, 2)
    fs.place_launcher(prefix, build_dir)
    download_server.set_route(fs.MANIFEST, {"body": fs.manifest_text(3)})
    download_server.set_route(fs.KOVA_PATCH, {"body": patch_archive(new)})
    return old, new


@pytest.fixture
def toast_env(prefix, helper, tmp_path):
    """Registers the toast recorder; the environment that sends its log to toasts.jsonl."""
    return fs.register_toast_recorder(prefix, helper, tmp_path / "toasts.jsonl")


def toast_messages(tmp_path):
    found = []
    for toast in fs.toasts(tmp_path / "toasts.jsonl"):
        texts = re.findall(r"<text>(.*?)</text>", toast["xml"])
        found.append(texts[1] if len(texts) > 1 else "")
    return found


def timestamp_file(prefix):
    return prefix.user_dir / "Quolva" / "toast_last_timestamp.txt"


# -- state files held open -------------------------------------------------------------

def test_version_record_held_open_by_another_process(prefix, patch_2_installed, hold_file):
    old, new = patch_2_installed
    record_path = prefix.user_dir / "Quolva" / "kova.txt"
    holder = hold_file(record_path, share="none")

    run = fs.run_launcher(prefix, timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    assert run.seconds < fs.time_bound(), run
    assert len(fs.JavaLog(prefix).wait_starts(1)) == 1, run
    # The record could be neither read (it counts as 0) nor rewritten: patch 3 went in
    # whole, and the record still names the patch it named.
    fs.assert_files(prefix, new)
    assert fs.leftovers(prefix.host_path("C:\\Quolva")) == []
    holder.kill()
    holder.wait()
    assert prefix.wait_server(timeout=30)
    assert record_path.read_bytes() == b"2"

    # Released: the next start sees 2, installs 3 again and records it.
    run = fs.run_launcher(prefix, timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    assert len(fs.JavaLog(prefix).wait_starts(2)) == 2, run
    assert record_path.read_bytes() == b"3"
    fs.assert_files(prefix, new)


def test_timestamp_file_held_open_by_another_process(prefix, patch_2_installed, hold_file,
                                                     toast_env, tmp_path, download_server):
    old, new = patch_2_installed
    download_server.set_route(fs.MANIFEST, {"body": fs.manifest_text(2)})
    stamp = timestamp_file(prefix)
    stamp.parent.mkdir(exist_ok=True)
    stamp.write_bytes(b"1000")
    holder = hold_file(stamp, share="none")

    run = fs.run_launcher(prefix, timeout=fs.time_bound() + 60, env=toast_env)
    assert run.returncode == 0, run
    assert len(fs.JavaLog(prefix).wait_starts(1)) == 1, run
    # Another process holding the file looks like another launcher claiming: no toast.
    assert toast_messages(tmp_path) == []
    holder.kill()
    holder.wait()
    assert prefix.wait_server(timeout=30)
    assert stamp.read_bytes() == b"1000"
    assert fs.record(prefix) == b"2"
    fs.assert_files(prefix, old)

    # Released, the same start shows its toast and records its time.
    run = fs.run_launcher(prefix, timeout=fs.time_bound() + 60, env=toast_env)
    assert run.returncode == 0, run
    assert toast_messages(tmp_path) == [LOADING]
    assert abs(int(stamp.read_bytes()) - time.time() * 1000) < 600_000


# -- folders that are not there ---------------------------------------------------------

def test_install_root_replaced_by_a_file(prefix, build_dir, install_fake_java, download_server,
                                         java_bytes):
    # The launcher and its runtime live elsewhere; a file stands where C:\Quolva goes.
    launcher = fs.place_launcher(prefix, build_dir, "C:\\Games\\Kova\\game.exe")
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova"))
    in_the_way = prefix.host_path("C:\\Quolva")
    in_the_way.write_bytes(b"a file, not a folder\n")
    folder = prefix.user_dir / "Quolva"
    folder.mkdir()
    (folder / "kova.txt").write_bytes(b"2")
    download_server.set_route(fs.MANIFEST, {"body": fs.manifest_text(3)})
    download_server.set_route(fs.KOVA_PATCH, {"body": patch_archive(fs.game_files(3, java_bytes))})

    run = fs.run_launcher(prefix, launcher, timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    assert run.seconds < fs.time_bound(), run
    assert java.wait_report() is not None, run
    assert download_server.requests_for(fs.KOVA_PATCH) == [], "nothing is fetched for an unwritable root"
    assert in_the_way.read_bytes() == b"a file, not a folder\n"
    assert fs.record(prefix) == b"2"


def launcher_builds(build_dir):
    """(A, B): the launcher, and a build that differs from it (a few bytes past the end
    of the image, which the loader ignores)."""
    a = (build_dir / "game.exe").read_bytes()
    return a, a + b"\0build B\0"


def test_temporary_folder_missing_during_a_self_update(prefix, build_dir, java_bytes,
                                                       download_server):
    a, b = launcher_builds(build_dir)
    old, new = fs.game_files(2, java_bytes), fs.game_files(3, java_bytes)
    fs.install_patch_on_disk(prefix, old, 2)
    root = prefix.host_path("C:\\Quolva")
    (root / "game.exe").write_bytes(a)
    download_server.set_route(fs.MANIFEST, {"body": fs.manifest_text(3)})
    download_server.set_route(fs.KOVA_PATCH, {"body": patch_archive(dict(new, **{"game.exe": b}))})
    temp = temp_folder(prefix)
    shutil.rmtree(temp)

    run = fs.run_launcher(prefix, "C:\\Quolva\\game.exe", timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    java = fs.JavaLog(prefix)
    assert len(java.wait_starts(1)) == 1, run
    # The new build could not be staged: the patch counts as not installed, the
    # running launcher's file is untouched, nothing staged is left anywhere.
    assert fs.record(prefix) == b"2"
    assert (root / "game.exe").read_bytes() == a
    assert not temp.exists() or not (temp / NEW_FILE).exists()
    assert fs.leftovers(root) == []
    # The other entries went in whole, as each one is written.
    fs.assert_files(prefix, new)
    assert prefix.wait_server(timeout=30)

    # With the folder back, the next start stages the build and records the patch.
    temp.mkdir(parents=True, exist_ok=True)
    run = fs.run_launcher(prefix, "C:\\Quolva\\game.exe", timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    assert len(java.wait_starts(2)) == 2, run
    assert fs.record(prefix) == b"3"
    assert wait_for(lambda: read_or_none(root / "game.exe") == b, 20), "the new build was not moved in"
    assert wait_for(lambda: not (temp / NEW_FILE).exists(), 5)


# -- the launcher's own file locked while the updater replaces it ------------------------

@pytest.mark.parametrize("held_seconds, replaced", [
    (None, False),  # held for longer than the updater tries
    (7, True),      # released while the updater still retries
], ids=["held throughout", "released after 7 s"])
def test_launcher_file_locked_during_apply_update(prefix, build_dir, hold_file, toast_env,
                                                  tmp_path, held_seconds, replaced):
    a, b = launcher_builds(build_dir)
    target = prefix.host_path("C:\\Quolva")
    target.mkdir()
    (target / "game.exe").write_bytes(a)
    temp = temp_folder(prefix)
    (temp / NEW_FILE).write_bytes(b)
    (temp / UPDATER).write_bytes(a)
    holder = hold_file(target / "game.exe", share="read", access="read",
                       seconds=held_seconds or 600)

    run = fs.run_launcher(prefix, prefix.win_path(temp / UPDATER), "__apply-update",
                          prefix.win_path(temp / NEW_FILE), "C:\\Quolva\\game.exe", GONE_PID,
                          timeout=120, env=toast_env)
    assert run.returncode == 0, run
    # A 2 s pause for the launcher that is gone, then ten tries 3 s apart.
    assert run.seconds < 2 + 9 * 3 + fs.SLACK_SECONDS, run
    holder.kill()
    holder.wait()
    if replaced:
        assert (target / "game.exe").read_bytes() == b
        assert toast_messages(tmp_path) == []
    else:
        assert run.seconds >= 2 + 9 * 3 - 1, run
        assert (target / "game.exe").read_bytes() == a
        assert toast_messages(tmp_path) == [UPDATE_FAILED]
    assert not (temp / NEW_FILE).exists()
    assert sorted(p.name for p in target.iterdir()) == ["game.exe"]


# -- two launchers at once ------------------------------------------------------------

def test_two_launchers_started_at_the_same_moment(prefix, patch_2_installed, toast_env, tmp_path,
                                                  answer_dialog):
    old, new = patch_2_installed
    # Should one of them see the other's game already running, its close prompt is
    # answered Yes; normally both pass the check before either game starts.
    answer_dialog(CLOSE_CAPTION, button="yes", timeout_ms=60000)
    first = fs.start_launcher(prefix, fs.INSTALLED_LAUNCHER, env=toast_env)
    second = fs.start_launcher(prefix, fs.INSTALLED_LAUNCHER, env=toast_env)
    runs = [first.wait(fs.time_bound() + 60), second.wait(fs.time_bound() + 60)]

    assert [r.returncode for r in runs] == [0, 0], runs
    assert all(r.seconds < fs.time_bound() for r in runs), runs
    assert len(fs.JavaLog(prefix).wait_starts(2)) == 2, "both launchers start the game"
    assert toast_messages(tmp_path) == [LOADING]
    stamp = timestamp_file(prefix).read_bytes()
    assert re.fullmatch(rb"[0-9]{13}", stamp), stamp
    assert abs(int(stamp) - time.time() * 1000) < 600_000
    # Each file is one patch or the other, whole; the record names one of them.
    root = prefix.host_path("C:\\Quolva")
    found = fs.tree(root)
    for name in new:
        assert found.get(name) in (old[name], new[name]), f"{name} is neither patch"
    assert fs.record(prefix) in (b"2", b"3")
    if fs.record(prefix) == b"3":
        fs.assert_files(prefix, new)
    assert fs.leftovers(root) == []


# -- killed in the middle of an extraction ---------------------------------------------

def big_patch(number, java_bytes, count=160, size=1 << 20):
    """Patch N with many large files before the game files, so that unpacking takes a
    while. Each file differs from patch to patch and compresses well: the download is
    quick, the writing is what takes time."""
    block = bytes(range(256)) * 16
    files = {}
    for n in range(count):
        line = f"pack {n:03d} of patch {number}\n".encode()
        files[f"kova/assets/pack{n:03d}.bin"] = (line + block) * (size // (len(line) + len(block)))
    files.update(fs.game_files(number, java_bytes))
    return files


def test_killed_mid_extraction_and_started_again(prefix, build_dir, java_bytes, download_server):
    old, new = big_patch(2, java_bytes), big_patch(3, java_bytes)
    fs.install_patch_on_disk(prefix, old, 2)
    fs.place_launcher(prefix, build_dir)
    download_server.set_route(fs.MANIFEST, {"body": fs.manifest_text(3)})
    download_server.set_route(fs.KOVA_PATCH, {"body": patch_archive(new)})

    # Killed as soon as the 41st installed file has been replaced: while it writes the
    # replacements of those after it.
    watched = prefix.host_path("C:\\Quolva\\kova\\assets") / "pack040.bin"
    installed_inode = watched.stat().st_ino
    launcher = fs.start_launcher(prefix, fs.INSTALLED_LAUNCHER)
    pid = launcher.pid
    deadline = time.monotonic() + 60
    while watched.stat().st_ino == installed_inode:
        assert time.monotonic() < deadline and launcher.poll() is None, "the extraction never got there"
        time.sleep(0.001)
    os.kill(pid, signal.SIGKILL)
    killed = launcher.wait(30)
    assert killed.returncode != 0, killed
    assert prefix.wait_server(timeout=30)

    # Nothing is recorded, and every installed file is either as it was or wholly the
    # new one, never a part of it.
    found = fs.tree(prefix.host_path("C:\\Quolva"))
    assert fs.record(prefix) == b"2"
    for name in old:
        assert found.get(name) in (old[name], new[name]), f"{name} was left half-written"
    replaced = [name for name in old if found[name] == new[name]]
    assert 0 < len(replaced) < len(old), "the kill did not come in the middle of the extraction"
    assert fs.JavaLog(prefix).starts() == []

    # Started again with the server healthy: the patch goes in whole and is recorded.
    run = fs.run_launcher(prefix, timeout=fs.time_bound() + 60)
    assert run.returncode == 0, run
    assert len(fs.JavaLog(prefix).wait_starts(1)) == 1, run
    assert fs.record(prefix) == b"3"
    fs.assert_files(prefix, new)
    assert fs.leftovers(prefix.host_path("C:\\Quolva")) == []
