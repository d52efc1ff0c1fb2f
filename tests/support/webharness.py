"""What the Python suites of relo-web share: the built relo-web (and RELOKomut
beside it) in a folder of the test's own, on a free loopback port, and raw
HTTP/1.1 connections from a chosen loopback address (127.0.0.N)."""
import ctypes
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading

WAIT = 20


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def die_with_parent():
    """A relo-web that a fault keeps busy ends with the suite that started it."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Server:
    """The folder, its ayar.ini and the environment: every radio module port is
    missing but the third, which is `com3`. start() runs relo-web there."""

    def __init__(self, bin_dir, com3="/nonexistent/tty3"):
        self.folder = tempfile.mkdtemp(prefix="relo-web-test-")
        for program in ("relo-web", "RELOKomut"):
            shutil.copy(os.path.join(bin_dir, program), self.folder)
        self.settings = os.path.join(self.folder, "ayar.ini")
        with open(self.settings, "w") as f:
            f.write("[RELO]\nPortNumber=3\nPortData=0\n")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("RELO_COM")
                    and k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        for n in range(1, 11):
            self.env["RELO_COM%d" % n] = com3 if n == 3 else "/nonexistent/tty%d" % n
        self.process = None
        self.port = 0

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, *args):
        """Whether relo-web started with `args`, on the port of the last run if
        any; either way self.log gathers what it prints."""
        self.log = ""
        self.process = subprocess.Popen(
            [self.path("relo-web"), "--listen", "127.0.0.1:%d" % self.port, *args],
            env=self.env, stderr=subprocess.PIPE, text=True, preexec_fn=die_with_parent)
        started, up = threading.Event(), []

        def read():
            for line in self.process.stderr:
                self.log += line
                found = re.search(r"başladı: https?://127\.0\.0\.1:(\d+)/", line)
                if found:
                    self.port = int(found.group(1))
                    up.append(True)
                    started.set()
            started.set()

        self.reader = threading.Thread(target=read, daemon=True)
        self.reader.start()
        started.wait(WAIT)
        return bool(up)

    def stop(self):
        """relo-web's exit code, its whole log read."""
        if self.process.poll() is None:
            self.process.terminate()
        try:
            status = self.process.wait(WAIT)
        except subprocess.TimeoutExpired:  # spinning: it never reads the request to stop
            self.process.kill()
            raise
        self.reader.join(WAIT)
        return status

    def remove(self):
        if self.process:
            self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def request(method, path, body=b"", headers=(), password=None):
    """One request's bytes; `headers` as "Name: value"."""
    text = "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\n" % (method, path)
    if password is not None:
        text += "Authorization: Bearer %s\r\n" % password
    for header in headers:
        text += header + "\r\n"
    if body or method in ("PUT", "POST"):
        text += "Content-Length: %d\r\n" % len(body)
    return text.encode() + b"\r\n" + body


class Client:
    """A raw connection from `source`, TLS when `wrap` is an SSL context."""

    def __init__(self, port, source="127.0.0.2", wrap=None):
        self.sock = socket.socket()
        self.sock.bind((source, 0))
        self.sock.settimeout(WAIT)
        self.sock.connect(("127.0.0.1", port))
        if wrap:
            self.sock = wrap.wrap_socket(self.sock)
        self.data = b""

    def send(self, data):
        self.sock.sendall(data)

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError
        self.data += chunk

    def answer(self, head=False):
        """(status, headers in lower case, body) of the next answer; EOFError
        when the connection closes first."""
        while b"\r\n\r\n" not in self.data:
            self._fill()
        top, self.data = self.data.split(b"\r\n\r\n", 1)
        headers = top.decode("latin1").lower()
        size = 0 if head else int(re.search(r"content-length: (\d+)", headers).group(1))
        while len(self.data) < size:
            self._fill()
        body, self.data = self.data[:size], self.data[size:]
        return int(headers[9:12]), headers, body

    def closed(self, within=WAIT):
        """Whether the server closes the connection within `within` seconds."""
        self.sock.settimeout(within)
        try:
            while True:
                self._fill()
        except TimeoutError:
            return False
        except (EOFError, OSError):  # closed, or reset
            return True

    def close(self):
        self.sock.close()


def ask(port, raw, source="127.0.0.2"):
    """(status, headers, body) of one request on a connection of its own."""
    client = Client(port, source)
    try:
        client.send(raw)
        return client.answer()
    finally:
        client.close()
