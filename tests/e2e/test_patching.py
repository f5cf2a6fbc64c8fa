"""The patching flow of the real game.exe under Wine: the manifest on the download
origin (https://localhost:18443), the patch archives on the download and storage
origins (18443 for Kova, 18444 for Belu), unpacked into C:\\Quolva\\, recorded in the
user's profile, then the game started.

The stand-in java.exe reaches the game folder only through the patch, so a launch
report proves both the unpacking and the start. Notifications are not looked at here.
"""
import os
import socket
import time
from pathlib import Path

import pytest
from patches import patch_archive

MANIFEST = "/download/checkpatch.txt"
KOVA_PATCH = "/gro/new/patch.zip"
BELU_PATCH = "/belu/patch.zip"
KOVA_CLASS = "com.brindlestudio.emberhollows.DesktopLauncher"
BELU_CLASS = "com.orvexa.zephyn.DesktopLauncher"
PORTS = (18443, 18444)
PORT_WAIT_SECONDS = float(os.environ.get("QUOLVA_PORT_WAIT_SECONDS", "120"))



def serve(server, url_path, data):
    """Puts data at url_path below the server's root folder."""
    path = Path(server.root) / url_path.lstrip("/")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def paths(server):
    return [request["path"] for request in server.requests]


def record(prefix, game_id):
    """Bytes of the user's version record for the game, None when there is none."""
    path = prefix.user_dir / "Quolva" / f"{game_id}.txt"
    return path.read_bytes() if path.exists() else None


def game_patch(game_id, java_bytes, extra=None):
    files = {
        f"{game_id}/pmzjre/bin/java.exe": java_bytes,
        f"{game_id}/pmzlib/": b"",
        f"{game_id}/pmzlib/{game_id}.jar": f"classes of {game_id}\n".encode() * 50,
        f"{game_id}/javafx-sdk/lib/javafx.base.jar": b"javafx\n" * 100,
    }
    files.update(extra or {})
    return patch_archive(files)


@pytest.fixture
def java_bytes(helper):
    return helper("fake_java").read_bytes()


@pytest.fixture
def kova_launcher(prefix, build_dir):
    """game.exe in C:\\Quolva\\kova: the folder name selects Kova, and its java.exe is
    what the patch brings."""
    folder = prefix.host_path("C:\\Quolva\\kova")
    folder.mkdir(parents=True)
    (folder / "game.exe").write_bytes((build_dir / "game.exe").read_bytes())
    return "C:\\Quolva\\kova\\game.exe"


class JavaInFolder:
    """The launch report of the stand-in java.exe in a game folder."""

    def __init__(self, prefix, game_folder):
        self.bin_dir = prefix.host_path(game_folder) / "pmzjre" / "bin"

    def starts(self):
        import json
        log = self.bin_dir / "launch_log.jsonl"
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]

    def wait_starts(self, count, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                found = self.starts()
            except ValueError:
                found = []  # half-written line
            if len(found) >= count:
                return found
            time.sleep(0.05)
        return self.starts()


@pytest.fixture
def ports_down():
    """Both origin ports bound but not listening, so every connection is refused; no
    other server on this machine can answer in the meantime."""
    sockets = []
    deadline = time.monotonic() + PORT_WAIT_SECONDS
    for port in PORTS:
        for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            while True:
                s = socket.socket(family, socket.SOCK_STREAM)
                try:
                    s.bind((address, port))
                    sockets.append(s)
                    break
                except OSError as error:
                    s.close()
                    if family == socket.AF_INET6 and error.errno in (97, 99):
                        break  # no IPv6 loopback here
                    if time.monotonic() > deadline:
                        pytest.fail(f"port {port} stays taken: {error}")
                    time.sleep(0.5)
    yield
    for s in sockets:
        s.close()


def test_fresh_install_unpacks_records_and_launches_then_next_start_only_checks(
        prefix, kova_launcher, download_server, storage_server, java_bytes):
    serve(download_server, MANIFEST, "\ufeffbelu;1\r\nkova;3\r\nstoneharbor;1\r\n".encode("utf-8"))
    serve(download_server, KOVA_PATCH, game_patch("kova", java_bytes, {
        "readme.txt": b"patch 3\n",
        "d\u1eef li\u1ec7u/ghi ch\u00fa.txt": b"notes\n",
    }))
    assert record(prefix, "kova") is None

    first = prefix.run(kova_launcher, timeout=120)
    assert first.returncode == 0, first
    java = JavaInFolder(prefix, "C:\\Quolva\\kova")
    starts = java.wait_starts(1)
    assert len(starts) == 1, first
    assert starts[0]["exe"].lower() == "c:\\quolva\\kova\\pmzjre\\bin\\java.exe"
    assert starts[0]["command_line"].endswith(" " + KOVA_CLASS)

    assert paths(download_server) == [MANIFEST, KOVA_PATCH]
    assert paths(storage_server) == []
    root = prefix.host_path("C:\\Quolva")
    assert (root / "readme.txt").read_bytes() == b"patch 3\n"
    assert (root / "kova" / "pmzlib" / "kova.jar").read_bytes() == b"classes of kova\n" * 50
    assert (root / "kova" / "javafx-sdk" / "lib" / "javafx.base.jar").is_file()
    assert (root / "d\u1eef li\u1ec7u" / "ghi ch\u00fa.txt").read_bytes() == b"notes\n"
    assert not (root / ".writetest.tmp").exists()
    assert record(prefix, "kova") == b"3"
    assert record(prefix, "belu") is None

    # Equal numbers: only the manifest is fetched, and the game starts again.
    second = prefix.run(kova_launcher, timeout=120)
    assert second.returncode == 0, second
    assert len(java.wait_starts(2)) == 2, second
    assert paths(download_server) == [MANIFEST, KOVA_PATCH, MANIFEST]
    assert record(prefix, "kova") == b"3"


def test_a_lower_manifest_number_is_installed_too(prefix, kova_launcher, download_server,
                                                   java_bytes):
    record_folder = prefix.user_dir / "Quolva"
    record_folder.mkdir()
    (record_folder / "kova.txt").write_bytes(b"5")
    serve(download_server, MANIFEST, "kova;4\n")
    serve(download_server, KOVA_PATCH, game_patch("kova", java_bytes))

    result = prefix.run(kova_launcher, timeout=120)
    assert result.returncode == 0, result
    assert len(JavaInFolder(prefix, "C:\\Quolva\\kova").wait_starts(1)) == 1, result
    assert paths(download_server) == [MANIFEST, KOVA_PATCH]
    assert record(prefix, "kova") == b"4"


def test_with_the_servers_down_the_installed_game_is_launched(prefix, kova_launcher,
                                                              install_fake_java, ports_down):
    java = install_fake_java(prefix.host_path("C:\\Quolva\\kova"))
    record_folder = prefix.user_dir / "Quolva"
    record_folder.mkdir()
    (record_folder / "kova.txt").write_bytes(b"2")

    result = prefix.run(kova_launcher, timeout=120)
    assert result.returncode == 0, result
    assert java.wait_report() is not None, result
    assert java.report()["command_line"].endswith(" " + KOVA_CLASS)
    assert record(prefix, "kova") == b"2"
    assert sorted(p.name for p in prefix.host_path("C:\\Quolva").iterdir()) == ["kova"]


def test_a_failed_patch_keeps_the_record_and_still_launches(prefix, kova_launcher,
                                                            install_fake_java, download_server,
                                                            java_bytes):
    java = install_fake_java(prefix.host_path("C:\\Quolva\\kova"))
    serve(download_server, MANIFEST, "kova;6\n")
    good = game_patch("kova", java_bytes, {"kova/pmzlib/extra.jar": b"extra\n"})
    # The archive breaks off in its central directory: it cannot be opened at all.
    serve(download_server, KOVA_PATCH, good[:-30])

    result = prefix.run(kova_launcher, timeout=120)
    assert result.returncode == 0, result
    assert java.wait_report() is not None, result
    assert paths(download_server) == [MANIFEST, KOVA_PATCH]
    assert record(prefix, "kova") is None
    assert not (prefix.host_path("C:\\Quolva") / "kova" / "pmzlib").exists()


def test_belu_fetches_its_patch_from_the_storage_origin(prefix, build_dir, download_server,
                                                        storage_server, java_bytes):
    folder = prefix.host_path("C:\\Games\\Belu Ascendant")
    folder.mkdir(parents=True)
    (folder / "game.exe").write_bytes((build_dir / "game.exe").read_bytes())
    serve(download_server, MANIFEST, "kova;9\nbelu;2\nstoneharbor;9\n")
    serve(download_server, BELU_PATCH, b"the download origin must not be asked for this")
    serve(storage_server, BELU_PATCH, game_patch("belu", java_bytes))

    result = prefix.run("C:\\Games\\Belu Ascendant\\game.exe", timeout=120)
    assert result.returncode == 0, result
    # No runtime beside the launcher: it starts the one the patch put below the root.
    starts = JavaInFolder(prefix, "C:\\Quolva\\belu").wait_starts(1)
    assert len(starts) == 1, result
    assert starts[0]["command_line"].endswith(" " + BELU_CLASS)

    assert paths(download_server) == [MANIFEST]
    assert paths(storage_server) == [BELU_PATCH]
    assert storage_server.requests[0]["tls"]
    assert record(prefix, "belu") == b"2"
    assert record(prefix, "kova") is None
