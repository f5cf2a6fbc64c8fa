"""The origin server on its own, seen byte for byte from a plain socket (no Wine): what
each behaviour puts on the wire, sequences, the routes file, the request records and
the command mode used by CTest fixtures. Quick: a few seconds in all."""
import json
import os
import socket
import ssl
import subprocess
import sys
import time
from pathlib import Path

import pytest

from origin_server import OriginServer

SERVER_SCRIPT = Path(__file__).resolve().parents[2] / "support" / "origin_server.py"


def exchange(port, request=b"GET /b HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
             context=None, timeout=5.0):
    """Sends one raw request; returns (bytes received, whether the peer reset)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if context:
        sock = context.wrap_socket(sock, server_hostname="localhost")
    received = b""
    reset = False
    try:
        sock.sendall(request)
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            received += chunk
    except ConnectionResetError:
        reset = True
    finally:
        sock.close()
    return received, reset


def split_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.lower()] = value.strip()
    return lines[0], headers, body


def get(port, target):
    return split_response(exchange(port, f"GET {target} HTTP/1.1\r\nConnection: close\r\n\r\n".encode())[0])


@pytest.fixture
def plain():
    with OriginServer(0) as server:
        yield server


@pytest.mark.parametrize("step, status_line, length_header, body, reset", [
    ({"status": 404}, "HTTP/1.1 404 Not Found", "0", b"", False),
    ({"status": 206, "body": "part"}, "HTTP/1.1 206 Partial Content", "4", b"part", False),
    ({"body": ""}, "HTTP/1.1 200 OK", "0", b"", False),
    ({"body": b"\x00\xffzip"}, "HTTP/1.1 200 OK", "5", b"\x00\xffzip", False),
    # Cut part-way: the declared length stays, fewer bytes arrive, then a clean close...
    ({"body": "x" * 100, "cut_after": 10}, "HTTP/1.1 200 OK", "100", b"x" * 10, False),
    # ... or a reset.
    ({"body": "x" * 100, "cut_after": 10, "cut_reset": True}, "HTTP/1.1 200 OK", "100", b"x" * 10, True),
    ({"content_length": 10 ** 9, "body": "short"}, "HTTP/1.1 200 OK", "1000000000", b"short", False),
])
def test_each_behaviour_on_the_wire(plain, step, status_line, length_header, body, reset):
    plain.set_route("/b", step)
    data, was_reset = exchange(plain.port)
    line, headers, received = split_response(data)
    assert line == status_line
    assert headers["content-length"] == length_header
    assert received == body
    assert was_reset == reset


@pytest.mark.parametrize("step, sent_before_reset", [
    ({"reset": "before"}, b""),
    ({"reset": "status"}, b"HTTP/1.1 2"),
])
def test_resets_before_a_whole_status_line(plain, step, sent_before_reset):
    plain.set_route("/b", step)
    data, was_reset = exchange(plain.port)
    assert was_reset
    assert sent_before_reset.startswith(data) or data.startswith(sent_before_reset)
    assert b"\r\n" not in data


def test_reset_in_the_headers_sends_a_whole_status_line_first(plain):
    plain.set_route("/b", {"reset": "headers"})
    data, was_reset = exchange(plain.port)
    assert was_reset
    assert data.startswith(b"HTTP/1.1 200 OK\r\n") and b"\r\n\r\n" not in data


def test_redirect_names_its_target(plain):
    plain.set_route("/b", {"redirect": "http://localhost:9/elsewhere?x=1", "status": 301})
    line, headers, _ = split_response(exchange(plain.port)[0])
    assert line == "HTTP/1.1 301 Moved Permanently"
    assert headers["location"] == "http://localhost:9/elsewhere?x=1"


def test_sequences_repeat_their_last_step_or_cycle(plain):
    plain.set_routes({"/once": [{"status": 500}, {"body": "ok"}],
                      "/cycle": {"sequence": [{"status": 500}, {"status": 200}], "repeat": "cycle"}})
    status = lambda path: get(plain.port, path)[0]  # noqa: E731
    assert [status("/once") for _ in range(3)] == ["HTTP/1.1 500 Internal Server Error"] + ["HTTP/1.1 200 OK"] * 2
    assert [status("/cycle")[9:12] for _ in range(4)] == ["500", "200", "500", "200"]
    plain.set_route("/once", [{"status": 503}, {"body": "ok"}])
    assert status("/once")[9:12] == "503"


def test_bytes_bodies_in_sequences_are_served_and_logged(tmp_path):
    log = tmp_path / "log.jsonl"
    archive = bytes(range(256)) * 4
    with OriginServer(0, log=str(log), routes={"/patch.zip": [{"status": 500}, {"body": archive}]}) as server:
        assert get(server.port, "/patch.zip")[0].startswith("HTTP/1.1 500")
        assert get(server.port, "/patch.zip")[2] == archive
    logged = [json.loads(line)["response"] for line in log.read_text(encoding="utf-8").splitlines()]
    assert logged == [{"status": 500}, {"body": "<1024 bytes>"}]


def test_root_files_and_the_query_aware_route_keys(tmp_path):
    (tmp_path / "download").mkdir()
    (tmp_path / "download" / "checkpatch.txt").write_bytes(b"kova;3\r\n")
    with OriginServer(0, root=str(tmp_path), routes={"/q?v=2": {"body": "exact"}}) as server:
        assert get(server.port, "/download/checkpatch.txt")[2] == b"kova;3\r\n"
        assert get(server.port, "/q?v=2")[2] == b"exact"
        assert get(server.port, "/q?v=3")[0].startswith("HTTP/1.1 404")
        assert get(server.port, "/../etc/passwd")[0].startswith("HTTP/1.1 404")


def test_a_request_is_recorded_exactly_as_sent(pki, tmp_path):
    log = tmp_path / "requests.jsonl"
    request = (b"GET /download/checkpatch.txt?a=1 HTTP/1.1\r\n"
               b"User-Agent: Mozilla/5.0 (X)\r\nHost: localhost:1\r\n"
               b"Accept: */*\r\nReferer: https://example.test/\r\nConnection: close\r\n\r\n")
    context = ssl.create_default_context(cafile=str(pki.ca_pem))
    with OriginServer(0, tls=pki.tls, log=str(log), routes={"*": {"body": "x"}}) as server:
        data, _ = exchange(server.port, request, context=context)
        assert data.endswith(b"x")
        [record] = server.requests
    assert record["raw_headers"].encode("latin-1") == request
    assert record["headers"] == [["User-Agent", "Mozilla/5.0 (X)"], ["Host", "localhost:1"],
                                 ["Accept", "*/*"], ["Referer", "https://example.test/"],
                                 ["Connection", "close"]]
    assert (record["method"], record["target"], record["path"], record["query"]) == \
        ("GET", "/download/checkpatch.txt?a=1", "/download/checkpatch.txt", "a=1")
    assert record["tls"] is True and record["port"] == server.port and record["route"] == "*"
    [logged] = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]
    assert logged == record


def test_an_untrusting_client_fails_the_handshake_and_is_recorded_as_such(pki):
    trusting_the_real_ca = ssl.create_default_context(cafile=str(pki.ca_pem))
    with OriginServer(0, tls=pki.untrusted_tls) as server:
        with pytest.raises(ssl.SSLCertVerificationError):
            exchange(server.port, context=trusting_the_real_ca)
        deadline = time.monotonic() + 5
        while not server.tls_failures and time.monotonic() < deadline:
            time.sleep(0.05)
        assert server.requests == [] and len(server.tls_failures) == 1


def test_the_routes_file_is_read_on_every_request_and_a_rewrite_restarts_sequences(tmp_path):
    routes = tmp_path / "routes.json"

    def write(table):
        staged = tmp_path / "routes.json.new"
        staged.write_text(json.dumps(table))
        os.replace(staged, routes)

    write({"/x": [{"status": 500}, {"body": "ok"}]})
    with OriginServer(0, routes_file=str(routes)) as server:
        status = lambda: get(server.port, "/x")[0][9:12]  # noqa: E731
        assert [status(), status(), status()] == ["500", "200", "200"]
        write({"/x": [{"status": 500}, {"body": "ok"}]})
        assert [status(), status()] == ["500", "200"]
        routes.write_text('{"/x": {"status": 4')  # half written: ignored for now
        assert status() == "404"
        write({"/x": {"status": 410}})
        assert status() == "410"


def test_a_stall_holds_the_answer_and_ends_with_the_server(plain):
    plain.set_route("/b", {"stall": 60, "body": "late"})
    sock = socket.create_connection(("127.0.0.1", plain.port), timeout=1.0)
    sock.sendall(b"GET /b HTTP/1.1\r\n\r\n")
    with pytest.raises(socket.timeout):
        sock.recv(1)
    started = time.monotonic()
    plain.stop()
    sock.settimeout(5)
    assert sock.recv(1) == b""  # closed unanswered
    assert time.monotonic() - started < 3
    sock.close()


def test_keep_alive_serves_several_requests_on_one_connection(plain):
    plain.set_route("/b", {"body": "ab"})
    data, _ = exchange(plain.port, b"GET /b HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\nConnection: close\r\n\r\n")
    assert data.count(b"HTTP/1.1 200 OK") == 2
    assert [r["request_in_connection"] for r in plain.requests] == [0, 1]
    assert len({r["connection"] for r in plain.requests}) == 1


def run_command(*args):
    return subprocess.run([sys.executable, str(SERVER_SCRIPT), *map(str, args)],
                          capture_output=True, text=True, timeout=30)


def test_command_mode_daemon_serves_logs_and_stops(pki, tmp_path):
    pidfile, log, routes = tmp_path / "pid", tmp_path / "log.jsonl", tmp_path / "routes.json"
    routes.write_text(json.dumps({"/download/checkpatch.txt": {"body": "kova;7\n"}}))
    with OriginServer(0) as probe:
        free_port = probe.port
    started = run_command("--port", free_port, "--tls-cert", pki.cert, "--tls-key", pki.key,
                          "--routes", routes, "--log", log, "--pidfile", pidfile, "--daemon",
                          "--max-seconds", 60)
    assert started.returncode == 0, started.stderr
    pid = int(pidfile.read_text())
    try:
        context = ssl.create_default_context(cafile=str(pki.ca_pem))
        data, _ = exchange(free_port, b"GET /download/checkpatch.txt HTTP/1.1\r\nConnection: close\r\n\r\n",
                           context=context)
        assert data.endswith(b"kova;7\n")
        # A second daemon on the same port fails at once instead of pretending.
        clash = run_command("--port", free_port, "--pidfile", tmp_path / "pid2", "--daemon")
        assert clash.returncode != 0
    finally:
        stopped = run_command("--stop", "--pidfile", pidfile)
    assert stopped.returncode == 0
    assert not pidfile.exists()
    assert not Path(f"/proc/{pid}").exists() or b"origin_server" not in Path(f"/proc/{pid}/cmdline").read_bytes()
    [record] = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]
    assert record["target"] == "/download/checkpatch.txt" and record["tls"] is True
