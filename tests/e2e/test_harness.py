"""The harness itself: certificate trust in a fresh prefix, the origins, dialog answering
and the stand-in java runtime. A failure here explains failures everywhere else."""
import json

import pytest

from origin_server import OriginServer


def test_https_to_download_origin_is_trusted_in_a_fresh_prefix(prefix, helper, download_server):
    download_server.set_route("/x", {"body": "hello harness"})
    result = prefix.run(helper("fetch_url"), "https://localhost:18443/x?q=1", timeout=60)
    assert result.returncode == 0, result
    assert "status 200 length 13" in result.stdout
    [request] = download_server.requests
    assert request["tls"] and request["target"] == "/x?q=1"
    assert "Host: localhost:18443\r\n" in request["raw_headers"]
    assert request["raw_headers"].startswith("GET /x?q=1 HTTP/1.1\r\n")


def test_https_with_an_untrusted_certificate_fails(prefix, helper, pki):
    # Any free port: only the certificate differs from the trusted case.
    with OriginServer(0, tls=pki.untrusted_tls, routes={"/x": {"body": "never"}}) as server:
        result = prefix.run(helper("fetch_url"), f"https://localhost:{server.port}/x", timeout=60)
    assert result.returncode == 1, result
    assert result.stdout.startswith("error"), result
    assert server.requests == []


def test_answer_dialog_reads_and_answers_a_message_box(prefix, helper, answer_dialog, tmp_path):
    caption = "Cập nhật trò chơi"
    text = "Đã có bản cập nhật mới.\nBạn có muốn tải về \"ngay\" không?"
    (tmp_path / "caption.txt").write_bytes(caption.encode("utf-8"))
    (tmp_path / "text.txt").write_bytes(text.encode("utf-8"))
    answer = answer_dialog(caption, "no", timeout_ms=30000)
    box = prefix.run(helper("show_message_box"), "--caption-file", prefix.win_path(tmp_path / "caption.txt"),
                     "--text-file", prefix.win_path(tmp_path / "text.txt"), "--flags", 0x24, timeout=60)
    code, seen = answer.result()
    assert code == 0
    assert box.returncode == 7  # IDNO
    assert seen["caption"] == caption
    assert seen["text"] == text
    assert [b["id"] for b in seen["buttons"]] == ["yes", "no"]


def test_fake_java_reports_its_start(prefix, install_fake_java):
    game = prefix.host_path("C:\\Games\\Kova")
    java = install_fake_java(game)
    result = prefix.run(prefix.win_path(java.exe), "-jar", "game.jar", timeout=60,
                        cwd=str(game))
    assert result.returncode == 0, result
    assert result.stdout == "" and result.stderr == ""
    report = java.report()
    assert report["command_line"].endswith(" -jar game.jar")
    assert report["exe"].lower() == "c:\\games\\kova\\pmzjre\\bin\\java.exe"
    assert report["stdout"] in ("pipe", "disk", "char") and isinstance(report["pid"], int)
    assert len(java.starts()) == 1 and json.dumps(java.starts()[0]) == json.dumps(report)


def test_fake_java_stays_running_while_the_marker_exists(prefix, install_fake_java):
    java = install_fake_java(prefix.host_path("C:\\Games\\Kova"), stay_running=True)
    process = prefix.start(prefix.win_path(java.exe))
    assert java.wait_report() is not None
    assert process.poll() is None
    java.stay_running(False)
    assert process.wait(timeout=10) == 0


def test_hold_file_denies_other_openers(prefix, hold_file, tmp_path):
    target = prefix.drive_c / "held.txt"
    target.write_text("x")
    holder = hold_file(target, share="none")
    result = prefix.run("cmd", "/c", "type", "C:\\held.txt", timeout=30)
    assert result.returncode != 0
    holder.kill()
    holder.wait(timeout=10)
    assert prefix.run("cmd", "/c", "type", "C:\\held.txt", timeout=30).returncode == 0


@pytest.fixture
def free_origin(pki):
    """A trusted HTTPS origin on a free port, so behaviour checks need not wait for the
    fixed ports other runs may hold."""
    with OriginServer(0, tls=pki.tls) as server:
        yield server


# What WinHTTP under Wine 8 makes of each behaviour (tests/support/README.md).
@pytest.mark.parametrize("step, expect", [
    ({"status": 404}, "status 404 length"),
    ({"status": 206, "body": "part"}, "status 206 length 4"),
    ({"body": ""}, "status 200 length 0"),
    ({"body": "x" * 100, "cut_after": 10}, "status 200 length 10"),
    ({"body": "x" * 100, "cut_after": 10, "cut_reset": True}, "error 10054 at available"),
    ({"reset": "status"}, "error 10054 at receive"),
    ({"content_length": 10 ** 9, "body": "short"}, "status 200 length 5"),
])
def test_origin_behaviours_as_winhttp_sees_them(prefix, helper, free_origin, step, expect):
    free_origin.set_route("/b", step)
    result = prefix.run(helper("fetch_url"), f"https://localhost:{free_origin.port}/b", timeout=60)
    assert expect in result.stdout, result


def test_sequence_and_redirect_to_another_port(prefix, helper, free_origin, pki):
    with OriginServer(0, tls=pki.tls, routes={"/final": {"body": "landed"}}) as other:
        free_origin.set_route("/r", {"sequence": [{"status": 500},
                                                  {"redirect": f"https://localhost:{other.port}/final"}]})
        url = f"https://localhost:{free_origin.port}/r"
        first = prefix.run(helper("fetch_url"), url, timeout=60)
        second = prefix.run(helper("fetch_url"), url, timeout=60)
        assert "status 500" in first.stdout, first
        assert "status 200 length 6" in second.stdout, second
        assert [r["target"] for r in other.requests] == ["/final"]
