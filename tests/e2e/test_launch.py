"""The start of the real game.exe under Wine with no patch server reachable: the game
is chosen from the launcher's folder path, its runtime beside the launcher is started
hidden with the game's main class, and the launcher ends with exit code 0."""
import shutil

import pytest


@pytest.mark.parametrize("folder, main_class", [
    ("C:\\Games\\Kova Online", "com.brindlestudio.emberhollows.DesktopLauncher"),
    ("C:\\Games\\HARBORSHADOW_Setup", "com.orvexa.harborshadow.DesktopLauncher"),
    ("C:\\Games\\zephyn and EmberHollows", "com.brindlestudio.emberhollows.DesktopLauncher"),
    ("C:\\Games\\Plain", "com.brindlestudio.emberhollows.DesktopLauncher"),
])
def test_launcher_starts_the_game_its_folder_names(prefix, build_dir, install_fake_java,
                                                    folder, main_class):
    game_folder = prefix.host_path("C:\\") / folder[3:].replace("\\", "/")
    game_folder.mkdir(parents=True)
    shutil.copyfile(build_dir / "game.exe", game_folder / "game.exe")
    java = install_fake_java(game_folder)

    result = prefix.run(folder + "\\game.exe", timeout=90)

    assert result.returncode == 0, result
    report = java.wait_report()
    assert report is not None, "the game was not started"
    runtime = folder + "\\pmzjre\\bin\\java.exe"
    assert report["command_line"] == (
        f'"{runtime}" --module-path "javafx-sdk\\lib" --add-modules=javafx.base,'
        "javafx.controls,javafx.web,javafx.swing,javafx.media,javafx.graphics,javafx.fxml "
        f'-cp "pmzlib\\*" {main_class}')
    assert report["cwd"].rstrip("\\").lower() == folder.lower()
    assert report["has_console"] is False
    assert report["stdout"] == "pipe" and report["stdout_is_stderr"] is True
    assert len(java.starts()) == 1


def test_a_launcher_without_a_runtime_reports_it_and_starts_nothing(prefix, build_dir,
                                                                    answer_dialog):
    game_folder = prefix.host_path("C:\\") / "Games" / "Kova Empty"
    game_folder.mkdir(parents=True)
    shutil.copyfile(build_dir / "game.exe", game_folder / "game.exe")
    answer = answer_dialog("Lỗi", "ok")

    result = prefix.run("C:\\Games\\Kova Empty\\game.exe", timeout=90)

    code, seen = answer.result()
    assert code == 0 and seen is not None
    assert seen["text"] == ("Không tìm thấy Java runtime (pmzjre\\bin\\java.exe). "
                            "Vui lòng kiểm tra lại bộ cài!")
    assert result.returncode == 0, result
