#!/usr/bin/env python3
"""relo-web against hostile clients on loopback addresses: the built relo-web,
with a password and no radio module (a change is answered 503 once the queue
tried it), and raw sockets from several source addresses (127.0.0.0/8). Every
case checks behaviour: the status, the order, whether the connection was
closed, that a refused request never reached the queue (no "Komut:" line in
the log), and that another client is still served.

    tst_hostile.py BIN_DIR
"""
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

WAIT = 20
PASSWORD = "gizli söz"
HEAD_LIMIT = 16 * 1024
PER_ADDRESS = 8
DEADLINE = 10  # seconds for a whole request, and for a TLS handshake


class Server:
    def __init__(self, folder, env, port, extra=()):
        self.log = ""
        self.process = subprocess.Popen(
            [os.path.join(folder, "relo-web"), "--listen", "127.0.0.1:%d" % port,
             "--password-file", os.path.join(folder, "parola"), *extra],
            env=env, stderr=subprocess.PIPE, text=True)
        started = threading.Event()

        def read():
            for line in self.process.stderr:
                self.log += line
                if "başladı" in line:
                    started.set()
            started.set()

        threading.Thread(target=read, daemon=True).start()
        if not started.wait(WAIT) or self.process.poll() is not None:
            raise RuntimeError("relo-web başlamadı:\n" + self.log)

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def stop(self):
        self.process.terminate()
        return self.process.wait(WAIT)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Client:
    """A raw connection from `source` (127.0.0.N)."""

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
        """(status, headers in lower case, body) of the next answer."""
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
                chunk = self.sock.recv(65536)
                if not chunk:
                    return True
                self.data += chunk
        except (socket.timeout, TimeoutError):
            return False
        except OSError:
            return True  # reset

    def close(self):
        self.sock.close()


def request(method, path, body=b"", headers=(), auth=True):
    text = "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\n" % (method, path)
    if auth:
        text += "Authorization: Bearer %s\r\n" % PASSWORD
    for header in headers:
        text += header + "\r\n"
    if body or method in ("PUT", "POST"):
        text += "Content-Length: %d\r\n" % len(body)
    return text.encode() + b"\r\n" + body


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def still_served(port, source="127.0.0.9"):
    client = Client(port, source)
    client.send(request("GET", "/api/state"))
    status = client.answer()[0]
    client.close()
    check(status == 200, "another client is served (%d)" % status)


# Each refused at once, answered, the connection closed, nothing queued.
REFUSED = [
    ("huge Content-Length, no body sent",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 104857610\r\n\r\n", 413),
    ("chunked over 1 KiB",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
     b"300\r\n" + b"1" * 0x300 + b"\r\n300\r\n" + b"1" * 0x300 + b"\r\n", 413),
    ("one chunk announcing 64 MiB",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
     b"4000000\r\n", 413),
    ("head over 16 KiB",
     b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + b"x" * (HEAD_LIMIT + 100), 431),
    ("two Content-Lengths",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1\r\n"
     b"Content-Length: 3\r\n\r\n255", 400),
    ("Content-Length and chunked",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n"
     b"Transfer-Encoding: chunked\r\n\r\n3\r\n255\r\n0\r\n\r\n", 400),
    ("another encoding",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: gzip\r\n\r\n", 400),
    ("a signed length",
     b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: +3\r\n\r\n255", 400),
]


def refused(server, port):
    submitted = server.log.count("Komut:")
    for name, raw, status in REFUSED:
        client = Client(port)
        # The password comes first, so a refusal is the layer's, not the guard's.
        client.send(raw.replace(b"\r\n", b"\r\nAuthorization: Bearer " +
                                PASSWORD.encode() + b"\r\n", 1))
        got = client.answer()
        check(got[0] == status, "%s: %d, not %d" % (name, got[0], status))
        check("connection: close" in got[1], name + ": Connection: close")
        check(client.closed(), name + ": closed")
        client.close()
    check(server.log.count("Komut:") == submitted, "a refused request reached the queue")
    still_served(port)


def deadlines(port):
    """A body that never comes and a head sent a byte a second are cut by the
    request's deadline, not kept alive by each byte."""
    results = {}

    def silent_body():
        client = Client(port, "127.0.0.3")
        client.send(b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 500\r\n\r\n")
        start = time.monotonic()
        results["body"] = (client.answer()[0], client.closed(), time.monotonic() - start)

    def slow_head():
        client = Client(port, "127.0.0.4")
        start = time.monotonic()
        head = b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"X-Slow: " + b"y" * 100
        for byte in head[:3 * DEADLINE]:
            try:
                client.send(bytes([byte]))
            except OSError:
                break
            if client.closed(within=0.5):
                break
        results["head"] = (time.monotonic() - start, b"408" in client.data)

    threads = [threading.Thread(target=f) for f in (silent_body, slow_head)]
    for thread in threads:
        thread.start()
    return threads, results


def per_address(port):
    """The ninth connection from one address is closed at once; another
    address is served all the while."""
    held = [Client(port, "127.0.0.5") for _ in range(PER_ADDRESS)]
    extra = Client(port, "127.0.0.5")
    check(extra.closed(within=5), "connection over the cap closed")
    still_served(port, "127.0.0.6")
    check(not held[0].closed(within=0.2), "those under the cap stay open")
    for client in held + [extra]:
        client.close()


def total(port):
    """With eight addresses at their cap, a ninth address gets nothing."""
    held = [Client(port, "127.0.1.%d" % (i // PER_ADDRESS + 1)) for i in range(64)]
    check(Client(port, "127.0.1.9").closed(within=5), "the 65th connection closed")
    for client in held:
        client.close()


def http(port):
    # Pipelined: answers in request order, the PUT's (answered once the queue
    # tried it) holding the GETs behind it.
    client = Client(port)
    client.send(request("PUT", "/api/channels/8", b"OFF") + request("GET", "/api/state") +
                request("GET", "/nothing"))
    answers = [client.answer() for _ in range(3)]
    check([a[0] for a in answers] == [503, 200, 404], "order: %s" % [a[0] for a in answers])
    # HEAD like GET without the body; the lower-case scheme is the same one.
    client.send(request("GET", "/") + b"HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                request("GET", "/api/state", auth=False,
                        headers=["Authorization: bearer " + PASSWORD]))
    page = client.answer()
    head = client.answer(head=True)
    check(head[0] == 200 and head[1].split("\r\n")[1:] == page[1].split("\r\n")[1:],
          "HEAD has GET's headers")
    check(client.answer()[0] == 200, "bearer in lower case")
    check(not client.closed(within=0.3), "kept alive")
    client.close()
    for name, raw in (
            ("Connection: close", request("GET", "/api/state", headers=["Connection: close"])),
            ("HTTP/1.0", request("GET", "/api/state").replace(b"HTTP/1.1", b"HTTP/1.0"))):
        client = Client(port)
        client.send(raw)
        got = client.answer()
        check(got[0] == 200 and "connection: close" in got[1], name + ": answered")
        check(client.closed(within=5), name + ": closed after the answer")
        client.close()


def memory(server, port):
    """relo-web's resident memory while a client streams 64 MiB at it."""
    idle = server.rss_kib()
    peak = idle
    for header in (b"Content-Length: %d\r\n" % (64 << 20), b"Transfer-Encoding: chunked\r\n"):
        client = Client(port)
        client.send(b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header + b"\r\n")
        if b"chunked" in header:
            client.send(b"4000000\r\n")
        sent = 0
        chunk = b"1" * 65536
        deadline = time.monotonic() + WAIT
        while sent < 64 << 20 and time.monotonic() < deadline:
            try:
                client.sock.settimeout(1)
                sent += client.sock.send(chunk)
            except OSError:
                break
            peak = max(peak, server.rss_kib())
        client.close()
    print("resident memory: %d KiB idle, %d KiB at most while streaming" % (idle, peak))
    check(peak - idle < 16 * 1024, "resident memory grew by %d KiB" % (peak - idle))


def tls(folder, env):
    """HTTPS: a suite that is not forward-secret is refused, an answer carries
    HSTS, a handshake that never finishes is closed."""
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True, timeout=WAIT)
    port = free_port()
    server = Server(folder, env, port, ["--cert", cert, "--key", key])
    try:
        stalled = Client(port, "127.0.0.7")
        start = time.monotonic()

        def context(cipher):
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            ctx.check_hostname = False
            ctx.verify_mode = ssl.CERT_NONE
            ctx.maximum_version = ssl.TLSVersion.TLSv1_2
            ctx.set_ciphers(cipher)
            return ctx

        try:
            Client(port, wrap=context("AES128-SHA"))
            check(False, "AES128-SHA accepted")
        except ssl.SSLError:
            pass
        client = Client(port, wrap=context("ECDHE-RSA-AES128-GCM-SHA256"))
        client.send(request("GET", "/api/state"))
        got = client.answer()
        check(got[0] == 200 and "strict-transport-security: max-age=31536000" in got[1], "HSTS")
        client.close()
        check(stalled.closed(within=DEADLINE + 5), "stalled handshake closed")
        check(time.monotonic() - start < DEADLINE + 5, "within the handshake deadline")
    finally:
        server.stop()


def main():
    bin_dir = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="relo-web-hostile-")
    shutil.copy(os.path.join(bin_dir, "relo-web"), folder)
    with open(os.path.join(folder, "ayar.ini"), "w") as f:
        f.write("[RELO]\nPortNumber=3\nPortData=0\n")
    with open(os.open(os.path.join(folder, "parola"), os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(PASSWORD + "\n")
    env = dict(os.environ)
    for n in range(1, 11):
        env["RELO_COM%d" % n] = "/nonexistent/tty%d" % n
    port = free_port()
    server = Server(folder, env, port)
    try:
        threads, results = deadlines(port)
        refused(server, port)
        per_address(port)
        http(port)
        memory(server, port)
        tls(folder, env)
        for thread in threads:
            thread.join(WAIT)
        total(port)
        status, closed, took = results["body"]
        check(status == 408 and closed and took < DEADLINE + 5, "body deadline: %s" % [results])
        took, told = results["head"]
        check(told and took < DEADLINE + 5, "head deadline: %s" % [results])
        check(server.process.poll() is None, "relo-web still running")
        print("PASS: tst_hostile")
        return 0
    except Exception:
        print("relo-web:\n" + server.log, file=sys.stderr)
        raise
    finally:
        server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
