"""Loopback HTTP/HTTPS origin for tests: serves files from a folder, answers chosen paths
with scripted behaviours (statuses, sequences, redirects, broken bodies, resets,
stalls), and records every request exactly as received.

Library use (pytest):
    server = OriginServer(18443, root=folder, tls=(cert_pem, key_pem)).start()
    server.set_route("/checkpatch.txt", {"sequence": [{"status": 500}, {"body": "ok"}]})
    ... server.requests ...
    server.stop()

Command use (CTest fixtures of Windows unit tests):
    origin_server.py --port 18443 --tls-cert C --tls-key K --root DIR --routes FILE.json
                     --log FILE.jsonl --pidfile FILE --daemon --max-seconds 600
    origin_server.py --stop --pidfile FILE
The routes file (path -> behaviour, JSON) is read again on every request, so a test
changes the server's behaviour by rewriting it. tests/support/README.md lists the
behaviours.
"""
import argparse
import base64
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

_REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
            303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect",
            400: "Bad Request", 403: "Forbidden", 404: "Not Found", 416: "Range Not Satisfiable",
            500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable"}

_MAX_HEADER_BYTES = 65536


def _loggable(step):
    """The step as it goes into a request record: bytes bodies become their length, so
    a record is always JSON."""
    if isinstance(step, dict):
        return {k: _loggable(v) for k, v in step.items()}
    if isinstance(step, (list, tuple)):
        return [_loggable(v) for v in step]
    if isinstance(step, (bytes, bytearray)):
        return f"<{len(step)} bytes>"
    return step


class _Abort(Exception):
    """The behaviour ended the connection on purpose."""


class _Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.origin = self.server.origin
        self.sock = self.request
        self.buffer = b""
        self.connection_id = self.origin._next_connection()

    def handle(self):
        if self.origin.tls_context is not None:
            try:
                self.sock.settimeout(30)
                self.sock = self.origin.tls_context.wrap_socket(self.sock, server_side=True)
            except (ssl.SSLError, OSError) as error:
                self.origin._tls_failure(str(error))
                return
        self.sock.settimeout(None)
        index = 0
        try:
            while True:
                head = self._read_head()
                if head is None:
                    return
                keep = self._serve(head, index)
                index += 1
                if not keep:
                    return
        except (_Abort, OSError, ssl.SSLError):
            return

    def finish(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def _read_head(self):
        while b"\r\n\r\n" not in self.buffer:
            if len(self.buffer) > _MAX_HEADER_BYTES:
                return None
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        return head

    def _read_body(self, length):
        while len(self.buffer) < length:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            self.buffer += chunk
        body, self.buffer = self.buffer[:length], self.buffer[length:]
        return body

    def _serve(self, head, index):
        raw = head.decode("latin-1")
        lines = raw.split("\r\n")
        parts = lines[0].split(" ")
        method, target, version = (parts + ["", "", ""])[:3]
        headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers.append([name, value.strip()])
        lowered = {name.lower(): value for name, value in headers}
        length = int(lowered.get("content-length", "0") or 0)
        body = self._read_body(length) if length > 0 else b""
        split = urllib.parse.urlsplit(target)
        record = {
            "time": time.time(), "port": self.origin.port, "tls": self.origin.tls_context is not None,
            "connection": self.connection_id, "request_in_connection": index,
            "client_port": self.client_address[1],
            "method": method, "target": target, "path": split.path, "query": split.query,
            "version": version, "headers": headers, "raw_headers": raw + "\r\n\r\n",
            "body_length": len(body),
        }
        step, route = self.origin._choose(target, split.path)
        record["route"] = route
        record["response"] = _loggable(step)
        self.origin._record(record)
        keep = lowered.get("connection", "").lower() != "close" and version == "HTTP/1.1"
        return self._respond(method, split.path, step) and keep

    def _respond(self, method, path, step):
        if "stall" in step:
            self._wait(step["stall"])
        reset = step.get("reset")
        if reset == "before":
            self._reset()
        status, body, extra = self._resolve(path, step)
        reason = step.get("reason", _REASONS.get(status, "Status"))
        head = [f"HTTP/1.1 {status} {reason}"]
        names = {name.lower() for name, _ in extra}
        head += [f"{name}: {value}" for name, value in extra]
        if "content-length" not in names:
            head.append(f"Content-Length: {int(step.get('content_length', len(body)))}")
        close = bool(step.get("close")) or "cut_after" in step or "content_length" in step
        if "connection" not in names:
            head.append("Connection: close" if close else "Connection: keep-alive")
        block = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")
        if reset == "status":
            self.sock.sendall(b"HTTP/1.1 2")
            time.sleep(0.1)
            self._reset()
        if reset == "headers":
            # The status line and half a header line: nothing that ends the header block
            # or gives a length.
            self.sock.sendall(f"HTTP/1.1 {status} {reason}\r\nContent-Ty".encode("latin-1"))
            time.sleep(0.1)
            self._reset()
        self.sock.sendall(block)
        if method == "HEAD":
            return not close
        if "stall_body" in step:
            self._wait(step["stall_body"])
        if "cut_after" in step:
            self.sock.sendall(body[: int(step["cut_after"])])
            time.sleep(0.1)
            if step.get("cut_reset"):
                self._reset()
            raise _Abort()
        self.sock.sendall(body)
        if "content_length" in step:
            time.sleep(0.1)
            raise _Abort()
        return not close

    def _wait(self, seconds):
        # A stall ends early, without an answer, when the server stops: a stopped
        # server never answers, and its test does not wait out the stall.
        if self.origin.stopped.wait(float(seconds)):
            raise _Abort()

    def _resolve(self, path, step):
        extra = step.get("headers", [])
        if isinstance(extra, dict):
            extra = list(extra.items())
        extra = [list(item) for item in extra]
        if "redirect" in step:
            extra.append(["Location", step["redirect"]])
            return int(step.get("status", 302)), self._body(step), extra
        if any(key in step for key in ("body", "body_base64", "file", "status", "reset")):
            return int(step.get("status", 200)), self._body(step), extra
        content = self.origin._read_root_file(path)
        if content is None:
            return 404, b"not found\n", extra
        return 200, content, extra

    def _body(self, step):
        if "body_base64" in step:
            return base64.b64decode(step["body_base64"])
        if "file" in step:
            content = self.origin._read_root_file("/" + step["file"].lstrip("/"))
            return content if content is not None else b""
        body = step.get("body", "")
        return body.encode("utf-8") if isinstance(body, str) else bytes(body)

    def _reset(self):
        raw = self.sock
        try:
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        if isinstance(raw, ssl.SSLSocket):
            # Closing the TLS layer would send close_notify; drop the descriptor instead.
            socket.socket(fileno=raw.detach()).close()
        else:
            raw.close()
        raise _Abort()


class _TcpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, family, origin):
        self.address_family = family
        self.origin = origin
        super().__init__(address, _Handler)


class OriginServer:
    """One loopback origin on `port` (127.0.0.1 and ::1). `tls` is (cert, key) or None.
    `routes_file`, when given, is read again on every request and wins over set_route.
    `log` appends one JSON line per request. Stops itself after `max_seconds`."""

    def __init__(self, port, root=None, tls=None, routes=None, routes_file=None, log=None,
                 max_seconds=1800):
        self.port = port
        self.root = os.path.abspath(root) if root else None
        self.routes = dict(routes or {})
        self.routes_file = routes_file
        self.log = log
        self.max_seconds = max_seconds
        self.requests = []
        self.tls_failures = []
        self.tls_context = None
        if tls:
            self.tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls_context.load_cert_chain(tls[0], tls[1])
        self._lock = threading.Lock()
        self._counters = {}
        self._routes_generation = None
        self._connections = 0
        self._servers = []
        self._threads = []
        self._timer = None
        self.stopped = threading.Event()

    # -- control ---------------------------------------------------------------------
    def start(self, bind_wait=0.0):
        """Starts serving. Port 0 picks a free port (read .port afterwards). While the
        port is taken, retries for up to `bind_wait` seconds, then raises OSError."""
        deadline = time.monotonic() + bind_wait
        while True:
            try:
                first = _TcpServer(("127.0.0.1", self.port), socket.AF_INET, self)
                break
            except OSError:
                if time.monotonic() >= deadline:
                    raise
                time.sleep(0.5)
        self._servers.append(first)
        self.port = first.server_address[1]
        try:
            self._servers.append(_TcpServer(("::1", self.port), socket.AF_INET6, self))
        except OSError:
            pass  # no IPv6 loopback here; clients then only try 127.0.0.1
        for server in self._servers:
            thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                                      daemon=True)
            thread.start()
            self._threads.append(thread)
        if self.max_seconds:
            self._timer = threading.Timer(self.max_seconds, self.stop)
            self._timer.daemon = True
            self._timer.start()
        return self

    def stop(self):
        if self.stopped.is_set():
            return
        self.stopped.set()
        if self._timer and self._timer is not threading.current_thread():
            self._timer.cancel()
        for server in self._servers:
            server.shutdown()
            server.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def set_routes(self, routes):
        """Replaces every route given in code by `routes` ({key: behaviour}) and
        restarts all sequences."""
        with self._lock:
            self.routes = dict(routes)
            self._counters = {}

    def set_route(self, path, behaviour):
        """Answers `path` (a path, or a full target with its query) with `behaviour`;
        None removes the route. Setting a route restarts its sequence."""
        with self._lock:
            if behaviour is None:
                self.routes.pop(path, None)
            else:
                self.routes[path] = behaviour
            self._counters = {k: v for k, v in self._counters.items() if k[0] != path}

    def clear_requests(self):
        with self._lock:
            self.requests.clear()

    def requests_for(self, path):
        with self._lock:
            return [r for r in self.requests if r["path"] == path or r["target"] == path]

    def wait_for_requests(self, count, path=None, timeout=10.0):
        """Waits until at least `count` requests (for `path`, when given) arrived."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.requests_for(path) if path else list(self.requests)
            if len(found) >= count:
                return found
            time.sleep(0.05)
        return self.requests_for(path) if path else list(self.requests)

    @property
    def url(self):
        return f"{'https' if self.tls_context else 'http'}://localhost:{self.port}"

    # -- used by the handler ---------------------------------------------------------
    def _next_connection(self):
        with self._lock:
            self._connections += 1
            return self._connections

    def _tls_failure(self, text):
        with self._lock:
            self.tls_failures.append({"time": time.time(), "error": text})
        self._write_log({"time": time.time(), "port": self.port, "tls_failure": text})

    def _current_routes(self):
        routes = dict(self.routes)
        if self.routes_file and os.path.exists(self.routes_file):
            try:
                stat = os.stat(self.routes_file)
                with open(self.routes_file, encoding="utf-8") as f:
                    routes.update(json.load(f))
            except (OSError, ValueError):
                return routes  # half-written file: use the routes given in code until it is whole
            # Every new writing of the file starts its sequences over, even with the
            # same text: a test that writes its routes expects its own first step.
            generation = (stat.st_mtime_ns, stat.st_size, stat.st_ino)
            with self._lock:
                if generation != self._routes_generation:
                    self._routes_generation = generation
                    self._counters = {}
        return routes

    def _choose(self, target, path):
        routes = self._current_routes()
        for key in (target, path, "*"):
            if key in routes:
                behaviour = routes[key]
                break
        else:
            return {}, None
        if isinstance(behaviour, list):
            behaviour = {"sequence": behaviour}
        if "sequence" not in behaviour:
            return behaviour, key
        steps = behaviour["sequence"]
        if not steps:
            return {}, key
        counter_key = (key, json.dumps(behaviour, sort_keys=True, default=repr))
        with self._lock:
            n = self._counters.get(counter_key, 0)
            self._counters[counter_key] = n + 1
        if behaviour.get("repeat") == "cycle":
            return steps[n % len(steps)], key
        return steps[min(n, len(steps) - 1)], key

    def _read_root_file(self, path):
        if not self.root:
            return None
        relative = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, relative))
        if not (full == self.root or full.startswith(self.root + os.sep)) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def _record(self, record):
        with self._lock:
            self.requests.append(record)
        self._write_log(record)

    def _write_log(self, record):
        if not self.log:
            return
        line = json.dumps(record, ensure_ascii=False) + "\n"
        with self._lock:
            with open(self.log, "a", encoding="utf-8") as f:
                f.write(line)


def _stop_from_pidfile(pidfile):
    try:
        with open(pidfile) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    for _ in range(50):
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            break
        time.sleep(0.1)
    try:
        os.remove(pidfile)
    except OSError:
        pass
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--root")
    parser.add_argument("--routes", help="JSON file path -> behaviour, read on every request")
    parser.add_argument("--log", help="appends one JSON line per request")
    parser.add_argument("--pidfile")
    parser.add_argument("--daemon", action="store_true",
                        help="detach once listening; the command returns when requests can be served")
    parser.add_argument("--max-seconds", type=float, default=600)
    parser.add_argument("--stop", action="store_true", help="stop the server named by --pidfile")
    args = parser.parse_args(argv)
    if args.stop:
        if not args.pidfile:
            parser.error("--stop needs --pidfile")
        return _stop_from_pidfile(args.pidfile)
    if args.port is None:
        parser.error("--port is required")
    if bool(args.tls_cert) != bool(args.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    absolute = lambda p: os.path.abspath(p) if p else None
    tls = (absolute(args.tls_cert), absolute(args.tls_key)) if args.tls_cert else None

    ready_write = None
    if args.daemon:
        ready_read, ready_write = os.pipe()
        if os.fork() > 0:
            os.close(ready_write)
            answer = os.read(ready_read, 64)
            return 0 if answer.startswith(b"ok") else 1
        os.close(ready_read)
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)

    try:
        server = OriginServer(args.port, root=args.root, tls=tls, routes_file=absolute(args.routes),
                              log=absolute(args.log), max_seconds=args.max_seconds).start()
    except OSError as error:
        if ready_write is not None:
            os.write(ready_write, b"fail")
        print(f"origin_server: {error}", file=sys.stderr)
        return 1
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write(f"{os.getpid()}\n")
    signal.signal(signal.SIGTERM, lambda *_: server.stop())
    signal.signal(signal.SIGINT, lambda *_: server.stop())
    if ready_write is not None:
        os.write(ready_write, b"ok")
        os.close(ready_write)
    while not server.stopped.wait(0.5):
        pass
    if args.pidfile:
        try:
            os.remove(args.pidfile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
