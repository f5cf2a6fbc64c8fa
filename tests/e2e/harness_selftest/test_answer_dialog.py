"""answer_dialog.exe against a real MessageBoxW under Xvfb: a Vietnamese caption given
each of the three ways, the close prompt's own flags, and the screenshot hint."""
import json
import subprocess
import time

import pytest

CAPTION = "Kova Ascendant - Cập nhật"
TEXT = ("Phát hiện 1 cửa sổ game đang chạy (PID: 612).\nCần đóng game để cập nhật phiên bản mới."
        "\n\nNhấn Yes để đóng game và cập nhật ngay.\nNhấn No để giữ phiên bản đang chạy.")
YES_NO_QUESTION_TOPMOST = 0x40024


def show_box(prefix, helper, tmp_path, caption, text, flags):
    (tmp_path / "box-caption.txt").write_bytes(caption.encode("utf-8"))
    (tmp_path / "box-text.txt").write_bytes(text.encode("utf-8"))
    return prefix.start(helper("show_message_box"),
                        "--caption-file", prefix.win_path(tmp_path / "box-caption.txt"),
                        "--text-file", prefix.win_path(tmp_path / "box-text.txt"), "--flags", flags)


@pytest.mark.parametrize("way", ["--caption", "--caption-utf8-hex", "--caption-file"])
def test_each_way_of_naming_a_vietnamese_caption(prefix, helper, tmp_path, way):
    value = {"--caption": CAPTION, "--caption-utf8-hex": CAPTION.encode("utf-8").hex(),
             "--caption-file": None}[way]
    if value is None:
        (tmp_path / "wanted.txt").write_bytes(CAPTION.encode("utf-8"))
        value = prefix.win_path(tmp_path / "wanted.txt")
    box = show_box(prefix, helper, tmp_path, CAPTION, TEXT, YES_NO_QUESTION_TOPMOST)
    out = tmp_path / "seen.json"
    answer = prefix.run(helper("answer_dialog"), way, value, "--button", "yes",
                        "--timeout-ms", 20000, "--out", prefix.win_path(out), timeout=60)
    assert answer.returncode == 0, answer
    assert box.wait(timeout=20) == 6  # IDYES
    seen = json.loads(out.read_text(encoding="utf-8"))
    assert seen["caption"] == CAPTION and seen["text"] == TEXT
    assert [b["id"] for b in seen["buttons"]] == ["yes", "no"]


def test_no_box_with_that_caption_is_a_timeout_and_leaves_other_boxes_alone(prefix, helper, tmp_path):
    box = show_box(prefix, helper, tmp_path, "Lỗi", "x", 0x40010)
    answer = prefix.run(helper("answer_dialog"), "--caption", "Lỗi ", "--button", "ok",
                        "--timeout-ms", 2000, timeout=60)
    assert answer.returncode == 1
    assert box.poll() is None, "a box with another caption was answered"
    assert prefix.run(helper("answer_dialog"), "--caption", "Lỗi", "--button", "ok", timeout=60).returncode == 0
    assert box.wait(timeout=20) == 1  # IDOK


def test_screenshot_hint_gives_the_rectangle_and_time_to_photograph(prefix, helper, tmp_path):
    box = show_box(prefix, helper, tmp_path, "Thông báo", "Không thể khởi chạy trò chơi", 0x40010)
    out = tmp_path / "seen.json"
    answering = prefix.start(helper("answer_dialog"), "--caption", "Thông báo", "--button", "ok",
                             "--out", prefix.win_path(out), "--screenshot-hint")
    deadline = time.monotonic() + 20
    while not out.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    left, top, right, bottom = json.loads(out.read_text(encoding="utf-8"))["rect"]
    assert right > left and bottom > top
    shot = tmp_path / "box.png"
    subprocess.run(["import", "-display", prefix.display, "-window", "root",
                    "-crop", f"{right - left}x{bottom - top}+{left}+{top}", str(shot)],
                   check=True, timeout=20)
    assert box.poll() is None, "the box was answered before the photograph"
    assert answering.wait(timeout=20) == 0 and box.wait(timeout=20) == 1
    assert shot.stat().st_size > 1000
