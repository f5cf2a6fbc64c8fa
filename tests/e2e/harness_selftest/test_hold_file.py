"""hold_file.exe under Wine: what a held file, a held byte range and a held folder deny
to another process. The second opener is hold_file.exe itself with --seconds 0, whose
exit code tells whether its open (3) or its lock (4) was refused."""
import pytest

OPENED, OPEN_REFUSED, LOCK_REFUSED = 0, 3, 4


@pytest.mark.parametrize("holder, other, expected", [
    ({"share": "none"}, ["--access", "read", "--share", "all"], OPEN_REFUSED),
    ({"share": "read", "access": "read"}, ["--access", "read", "--share", "readwrite"], OPENED),
    ({"share": "read", "access": "read"}, ["--access", "write", "--share", "readwrite"], OPEN_REFUSED),
    ({"share": "readwrite"}, ["--access", "readwrite", "--share", "readwrite"], OPENED),
    # The holder writes, so an opener that shares reading only is refused.
    ({"share": "readwrite"}, ["--access", "read", "--share", "read"], OPEN_REFUSED),
    ({"share": "readwrite", "lock": "0:10"}, ["--share", "readwrite", "--lock", "5:10"], LOCK_REFUSED),
    ({"share": "readwrite", "lock": "0:10"}, ["--share", "readwrite", "--lock", "10:5"], OPENED),
])
def test_what_a_held_file_denies(prefix, helper, hold_file, holder, other, expected):
    target = prefix.drive_c / "record.txt"
    target.write_bytes(b"0123456789abcdef")
    hold_file(target, **holder)
    second = prefix.run(helper("hold_file"), "C:\\record.txt", *other, "--seconds", 0, timeout=60)
    assert second.returncode == expected, second


def test_a_held_folder_cannot_be_moved_but_takes_new_files(prefix, hold_file):
    folder = prefix.drive_c / "Quolva"
    folder.mkdir()
    holder = hold_file(folder, share="none", access="read")
    assert prefix.run("cmd", "/c", "move", "C:\\Quolva", "C:\\Moved", timeout=30).returncode != 0
    assert folder.is_dir() and not (prefix.drive_c / "Moved").exists()
    prefix.run("cmd", "/c", "echo x> C:\\Quolva\\new.txt", timeout=30)
    assert (folder / "new.txt").exists(), "a held folder still takes new files: hold a file in it instead"
    holder.kill()


def test_a_missing_file_is_created_and_the_ready_file_names_the_holder(prefix, helper, tmp_path):
    ready = tmp_path / "ready"
    holder = prefix.start(helper("hold_file"), "C:\\made.txt", "--ready", prefix.win_path(ready),
                          "--seconds", 0)
    assert holder.wait(timeout=30) == 0
    assert (prefix.drive_c / "made.txt").exists()
    assert ready.read_text().strip().isdigit()
