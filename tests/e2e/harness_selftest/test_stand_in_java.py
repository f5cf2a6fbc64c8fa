"""The stand-in java.exe started the way the launcher starts the game (start_hidden.exe
copies those process options), so its report can be trusted when a launch test reads
it: pipe for output and error, NUL for input, no console, hidden start-up, the working
directory and the command line as given; and it survives the reader of its pipe."""

COMMAND_TAIL = (' --module-path "javafx-sdk\\lib" --add-modules=javafx.base,javafx.controls '
                '-cp "pmzlib\\*" com.example.Main')


def test_report_of_a_launcher_like_start(prefix, helper, install_fake_java):
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova Ascendant"))
    command_line = '"C:\\Games\\Kova Ascendant\\pmzjre\\bin\\java.exe"' + COMMAND_TAIL
    started = prefix.run(helper("start_hidden"), "C:\\Games\\Kova Ascendant", command_line, timeout=60)
    assert started.returncode == 0, started
    report = java.wait_report()
    assert report is not None, "the stand-in wrote no report"
    assert report["command_line"] == command_line
    assert report["cwd"].rstrip("\\").lower() == "c:\\games\\kova ascendant"
    assert started.stdout.split() == ["pid", str(report["pid"])]
    assert (report["stdin"], report["stdout"], report["stderr"]) == ("char", "pipe", "pipe")
    assert report["stdout_stderr_same_pipe"] and report["stdin_is_nul"]
    assert report["has_console"] is False
    assert (report["startup_flags"], report["show_window"]) == (0x101, 0)
    assert len(java.starts()) == 1


def test_plain_start_from_wine_is_told_apart(prefix, install_fake_java):
    # Started by wine from this test: no pipe shared by output and error, no hidden
    # start-up. A launch test that sees these values knows the launcher did not set them.
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova"))
    result = prefix.run(prefix.win_path(java.exe), timeout=60)
    assert result.returncode == 0, result
    report = java.report()
    assert report["startup_flags"] & 0x1 == 0 or report["show_window"] != 0
    assert not (report["stdout_stderr_same_pipe"] and report["stdin_is_nul"]
                and report["startup_flags"] == 0x101)


def test_keeps_running_after_the_reader_of_its_pipe_is_gone(prefix, helper, install_fake_java):
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova"), stay_running=True)
    started = prefix.run(helper("start_hidden"), "C:\\Games\\Kova",
                         '"C:\\Games\\Kova\\pmzjre\\bin\\java.exe" x', timeout=60)
    assert started.returncode == 0, started
    assert java.wait_report() is not None
    # start_hidden has ended, so the pipe has no reader; the stand-in is still there.
    assert not prefix.wait_server(timeout=3), "the stand-in ended while its marker exists"
    java.stay_running(False)
    assert prefix.wait_server(timeout=20), "the stand-in did not end once the marker was gone"
    assert len(java.starts()) == 1


def test_overlapping_starts_each_leave_their_line(prefix, install_fake_java):
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova"))
    starts = [prefix.start(prefix.win_path(java.exe), str(n)) for n in range(6)]
    assert [p.wait(timeout=60) for p in starts] == [0] * 6
    lines = java.starts()
    assert sorted(line["command_line"].rsplit(" ", 1)[1] for line in lines) == [str(n) for n in range(6)]
    assert len({line["pid"] for line in lines}) == 6
