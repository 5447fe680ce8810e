"""Local update servers for the transfer tests: the version manifest over
HTTPS and the installer packages over plain HTTP, each with fault modes.

They listen on 127.0.0.1 only, hold a bounded number of connections, bound
every response in size and time, and stop by themselves after their
lifetime. The HTTPS servers present a certificate for "localhost" issued by
a test authority made with the openssl program when the servers start: one
whose authority the client is meant to trust, and one from a foreign
authority that no client trusts.

Fault modes, chosen per request by a path that starts with /fault/<mode>/
(the rest of the path is ignored), or for every other path by the server's
`mode` attribute:

  ok           200 with the server's content
  404, 500     that status with an HTML error page
  empty        200 with an empty body
  zero-after   the content, a zero byte, then more text, in one write
  zero-inside  the content with a zero byte in its middle
  reset        the headers and half the content, then a TCP reset
  huge         a body of `huge_size` bytes (many times any manifest)
  slow         the content one byte every `slow_interval` seconds

As a library (the wine scenarios):

    with TransferServers(workdir, https_port=443, http_port=80) as servers:
        servers.manifest = b"<version>...</version>"
        servers.packages["/pub/.../install_all_win_ax_sgn.z"] = package_bytes
        ... servers.pki.ca_der, servers.https_port, servers.requests ...

Standalone:

    servers.py serve [--https-port N] [--http-port N] [--untrusted-port N]
                     [--dir DIR] [--lifetime S] [--mode M] [--manifest FILE]
                     [--package PATH=FILE ...]
        serves until its lifetime ends or it is interrupted; prints one JSON
        line with the ports and the authority's files first.
    servers.py run [the same options] -- COMMAND ...
        serves while COMMAND runs, with VEXEL_TEST_CA_PEM, VEXEL_TEST_CA_DER,
        VEXEL_TEST_HTTPS_PORT, VEXEL_TEST_UNTRUSTED_PORT and
        VEXEL_TEST_HTTP_PORT in its environment; exits with its exit code.
"""

import argparse
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

MANIFEST_PATH = "/pub/vexelplayer/update/current/sau/11/beta/xml/version.xml"
ACTIVEX_PACKAGE_PATH = "/pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_ax_sgn.z"
PLUGIN_PACKAGE_PATH = "/pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_pl_sgn.z"

MODES = ("ok", "404", "500", "empty", "zero-after", "zero-inside", "reset", "huge", "slow")

SAMPLE_MANIFEST = (
    b'<?xml version="1.0" encoding="utf-8"?>\n'
    b"<version>\n"
    b'  <ActiveX major="11" minor="2" buildMajor="202" buildMinor="235"/>\n'
    b'  <Plugin major="11" minor="3" buildMajor="300" buildMinor="1"/>\n'
    b'  <SAUConfig checkFrequency="2"/>\n'
    b"</version>\n"
)

LISTEN_ADDRESS = "127.0.0.1"
DEFAULT_LIFETIME = 900
MAX_CONNECTIONS = 32
SOCKET_TIMEOUT = 30


# ---- the test authority ------------------------------------------------


class TestPki:
    """A test authority with a certificate for localhost, and a foreign
    authority with one of its own, made in `folder` with openssl."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.ca_pem = self.folder / "test-ca.pem"
        self.ca_der = self.folder / "test-ca.der"
        self.server_cert = self.folder / "localhost.pem"
        self.server_key = self.folder / "localhost.key"
        self.foreign_ca_pem = self.folder / "foreign-ca.pem"
        self.foreign_cert = self.folder / "localhost-foreign.pem"
        self.foreign_key = self.folder / "localhost-foreign.key"
        self._make_authority("test-ca", "Vexel Transfer Test Authority")
        self._make_server_certificate("test-ca", "localhost")
        self._make_authority("foreign-ca", "Vexel Foreign Test Authority")
        self._make_server_certificate("foreign-ca", "localhost-foreign")
        self._openssl(["x509", "-in", self.ca_pem, "-outform", "DER", "-out", self.ca_der])

    def _openssl(self, args):
        subprocess.run(["openssl", *[str(a) for a in args]], check=True, capture_output=True, timeout=120)

    def _make_authority(self, name, common_name):
        self._openssl([
            "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-nodes", "-days", "30",
            "-keyout", self.folder / f"{name}.key", "-out", self.folder / f"{name}.pem",
            "-subj", f"/CN={common_name}",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        ])

    def _make_server_certificate(self, authority, name):
        extensions = self.folder / f"{name}.ext"
        extensions.write_text(
            "subjectAltName=DNS:localhost\n"
            "basicConstraints=critical,CA:FALSE\n"
            "keyUsage=critical,digitalSignature,keyEncipherment\n"
            "extendedKeyUsage=serverAuth\n"
        )
        request = self.folder / f"{name}.csr"
        self._openssl([
            "req", "-newkey", "rsa:2048", "-sha256", "-nodes",
            "-keyout", self.folder / f"{name}.key", "-out", request, "-subj", "/CN=localhost",
        ])
        self._openssl([
            "x509", "-req", "-in", request, "-sha256", "-days", "30",
            "-CA", self.folder / f"{authority}.pem", "-CAkey", self.folder / f"{authority}.key",
            "-set_serial", str(int(time.time() * 1000)),
            "-extfile", extensions, "-out", self.folder / f"{name}.pem",
        ])


# ---- the servers -------------------------------------------------------


class _Handler(http.server.BaseHTTPRequestHandler):
    # One response per connection, as the clients need no more.
    protocol_version = "HTTP/1.0"
    server_version = "VexelTestServer/1.0"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        server = self.server
        path = self.path.split("?", 1)[0]
        mode = server.mode
        if path.startswith("/fault/"):
            parts = path.split("/", 3)
            mode = parts[2] if len(parts) > 2 else ""
        server.record(self.command, self.path, self.headers)
        content = server.content_for(path)
        if mode not in MODES:
            self._send(400, b"unknown fault mode\n", "text/plain")
        elif content is None and mode == "ok":
            self._send(404, _error_page(404, "Not Found"), "text/html")
        else:
            getattr(self, "_mode_" + mode.replace("-", "_"))(content or b"")

    def _send(self, status, body, content_type="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _mode_ok(self, content):
        self._send(200, content)

    def _mode_404(self, content):
        self._send(404, _error_page(404, "Not Found"), "text/html")

    def _mode_500(self, content):
        self._send(500, _error_page(500, "Internal Server Error"), "text/html")

    def _mode_empty(self, content):
        self._send(200, b"")

    def _mode_zero_after(self, content):
        self._send(200, content + b"\0" + b"text after a zero byte")

    def _mode_zero_inside(self, content):
        middle = len(content) // 2
        self._send(200, content[:middle] + b"\0" + content[middle:])

    def _mode_reset(self, content):
        body = content if len(content) >= 2 else b"<version>"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        # Let the client take the headers and the first half in before the
        # reset, so that it breaks the body, not the response.
        self.server.stopping.wait(0.5)
        # SO_LINGER with a zero time turns the close into a reset.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def _mode_huge(self, content):
        size = self.server.huge_size
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        block = (b"<!-- " + b"x" * 65520 + b" -->\n")[:65536]
        sent = 0
        deadline = time.monotonic() + self.server.response_time_limit
        while sent < size and time.monotonic() < deadline and not self.server.stopping.is_set():
            piece = block[: min(len(block), size - sent)]
            self.wfile.write(piece)
            sent += len(piece)

    def _mode_slow(self, content):
        self.send_response(200)
        self.send_header("Content-Length", str(len(content)))
        self.end_headers()
        self.wfile.flush()
        deadline = time.monotonic() + self.server.response_time_limit
        for i in range(len(content)):
            if self.server.stopping.wait(self.server.slow_interval) or time.monotonic() > deadline:
                break
            self.wfile.write(content[i : i + 1])
            self.wfile.flush()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass  # the client went away, or the connection was reset on purpose


def _error_page(status, reason):
    return (
        f"<!DOCTYPE html>\n<html><head><title>{status} {reason}</title></head>"
        f"<body><h1>{reason}</h1><p>The requested URL was not found on this server.</p></body></html>\n"
    ).encode()


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 16

    def __init__(self, port, tls_context=None):
        self.tls_context = tls_context
        self.mode = "ok"
        self.content = {}
        self.default_content = None
        self.huge_size = 64 * 1024 * 1024
        self.slow_interval = 3.0
        self.response_time_limit = 600
        self.stopping = threading.Event()
        self.requests = []
        self._lock = threading.Lock()
        self._slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        super().__init__((LISTEN_ADDRESS, port), _Handler)

    def record(self, method, path, headers):
        with self._lock:
            self.requests.append({"method": method, "path": path, "user_agent": headers.get("User-Agent", "")})

    def content_for(self, path):
        return self.content.get(path, self.default_content)

    def process_request(self, request, client_address):
        if not self._slots.acquire(blocking=False):
            request.close()  # at capacity: refuse rather than queue without bound
            return
        try:
            super().process_request(request, client_address)
        except Exception:
            self._slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def finish_request(self, request, client_address):
        request.settimeout(SOCKET_TIMEOUT)
        if self.tls_context is not None:
            # The handshake runs on the connection's own thread, so that a
            # client that never completes it holds up no one else.
            try:
                request = self.tls_context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                request.close()
                return  # a client that refuses the certificate ends here
            try:
                super().finish_request(request, client_address)
            finally:
                try:
                    request.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                request.close()
            return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # broken and reset connections are what these servers are for


def _tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(str(cert), str(key))
    return context


class TransferServers:
    """The manifest server (HTTPS, trusted certificate), the same on a
    foreign certificate, and the package server (HTTP). Port 0 picks a free
    port; `.https_port`, `.untrusted_port` and `.http_port` tell which."""

    def __init__(self, folder=None, https_port=0, http_port=0, untrusted_port=0, lifetime=DEFAULT_LIFETIME,
                 pki=None):
        self._tempdir = None
        if folder is None:
            self._tempdir = tempfile.TemporaryDirectory(prefix="vexel-servers-")
            folder = self._tempdir.name
        self.pki = pki or TestPki(Path(folder) / "pki")
        self.manifest_server = _Server(https_port, _tls_context(self.pki.server_cert, self.pki.server_key))
        self.untrusted_server = _Server(untrusted_port, _tls_context(self.pki.foreign_cert, self.pki.foreign_key))
        self.package_server = _Server(http_port)
        self.manifest = SAMPLE_MANIFEST
        self.lifetime = lifetime
        self._threads = []
        self._timer = None
        self.stopped = threading.Event()

    @property
    def servers(self):
        return (self.manifest_server, self.untrusted_server, self.package_server)

    @property
    def https_port(self):
        return self.manifest_server.server_address[1]

    @property
    def untrusted_port(self):
        return self.untrusted_server.server_address[1]

    @property
    def http_port(self):
        return self.package_server.server_address[1]

    @property
    def manifest(self):
        return self.manifest_server.default_content

    @manifest.setter
    def manifest(self, data):
        # The manifest servers answer every path with it.
        self.manifest_server.default_content = data
        self.untrusted_server.default_content = data

    @property
    def packages(self):
        """Path on the package server -> bytes."""
        return self.package_server.content

    @property
    def requests(self):
        return [r for s in self.servers for r in s.requests]

    def set_mode(self, mode, servers=None):
        if mode not in MODES:
            raise ValueError(f"unknown fault mode {mode}")
        for s in servers or self.servers:
            s.mode = mode

    def set_slow_interval(self, seconds):
        for s in self.servers:
            s.slow_interval = seconds

    def start(self):
        for s in self.servers:
            t = threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
            t.start()
            self._threads.append(t)
        self._timer = threading.Timer(self.lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()
        return self

    def stop(self):
        if self.stopped.is_set():
            return
        self.stopped.set()
        if self._timer is not None:
            self._timer.cancel()
        for s in self.servers:
            s.stopping.set()
            s.shutdown()
            s.server_close()
        if self._tempdir is not None:
            self._tempdir.cleanup()

    def environment(self):
        """What a test program run against these servers is told."""
        return {
            "VEXEL_TEST_CA_PEM": str(self.pki.ca_pem),
            "VEXEL_TEST_CA_DER": str(self.pki.ca_der),
            "VEXEL_TEST_HTTPS_PORT": str(self.https_port),
            "VEXEL_TEST_UNTRUSTED_PORT": str(self.untrusted_port),
            "VEXEL_TEST_HTTP_PORT": str(self.http_port),
        }

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


# ---- standalone --------------------------------------------------------


def _parse(argv):
    parser = argparse.ArgumentParser(description="Local update servers for the transfer tests.")
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "run"):
        p = sub.add_parser(name)
        p.add_argument("--https-port", type=int, default=0)
        p.add_argument("--http-port", type=int, default=0)
        p.add_argument("--untrusted-port", type=int, default=0)
        p.add_argument("--dir", default=None, help="folder for the test authority's files")
        p.add_argument("--lifetime", type=float, default=DEFAULT_LIFETIME)
        p.add_argument("--mode", default="ok", choices=MODES)
        p.add_argument("--slow-interval", type=float, default=None)
        p.add_argument("--manifest", default=None, help="file served as the manifest")
        p.add_argument("--package", action="append", default=[], metavar="PATH=FILE",
                       help="file the package server serves at PATH (repeatable)")
        if name == "run":
            p.add_argument("program", nargs=argparse.REMAINDER)
    return parser.parse_args(argv)


def main(argv):
    args = _parse(argv)
    servers = TransferServers(args.dir, args.https_port, args.http_port, args.untrusted_port, args.lifetime)
    if args.manifest:
        servers.manifest = Path(args.manifest).read_bytes()
    for package in args.package:
        path, _, file = package.partition("=")
        if not path.startswith("/") or not file:
            print(f"servers.py: --package wants PATH=FILE, not {package}", file=sys.stderr)
            return 2
        servers.packages[path] = Path(file).read_bytes()
    servers.set_mode(args.mode)
    if args.slow_interval is not None:
        servers.set_slow_interval(args.slow_interval)
    with servers:
        if args.command == "serve":
            print(json.dumps({**servers.environment(), "lifetime": args.lifetime}), flush=True)
            signal.signal(signal.SIGTERM, lambda *_: servers.stop())
            try:
                servers.stopped.wait()
            except KeyboardInterrupt:
                pass
            return 0
        program = args.program[1:] if args.program[:1] == ["--"] else args.program
        if not program:
            print("servers.py run: no program given", file=sys.stderr)
            return 2
        env = dict(os.environ, **servers.environment())
        try:
            return subprocess.run(program, env=env, timeout=args.lifetime).returncode
        except subprocess.TimeoutExpired:
            print(f"servers.py run: {program[0]} outlived the servers' lifetime", file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
