#!/usr/bin/env python3
"""relo-web against hostile clients on loopback addresses: the built relo-web,
with a password and no radio module (a change is answered 503 once the queue
tried it), and raw sockets from several source addresses (127.0.0.0/8). Every
case checks behaviour: the status, the order, whether the connection was
closed, that a refused request never reached the queue (no "Komut:" line in
the log), and that another client is still served. Then password guessing
from several addresses, as several clients would come from a home network.

    tst_hostile.py BIN_DIR
"""
import os
import re
import ssl
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

from webharness import WAIT, Client, Server, ask, check, request

PASSWORD = "gizli söz "  # a blank at its end, as a file's line may have and a header loses
PER_ADDRESS = 8
DEADLINE = 10  # seconds for a whole request, and for a TLS handshake

# Each refused at once, answered, the connection closed, nothing queued: a
# PUT /api/mask with these headers and body.
CHUNKED = b"Transfer-Encoding: chunked\r\n\r\n"
REFUSED = [
    ("huge Content-Length, no body sent", b"Content-Length: 104857610\r\n\r\n", 413),
    ("chunked over 1 KiB", CHUNKED + (b"300\r\n" + b"1" * 0x300 + b"\r\n") * 2, 413),
    ("one chunk announcing 64 MiB", CHUNKED + b"4000000\r\n", 413),
    ("head over 16 KiB", b"X-Pad: " + b"x" * (16 * 1024 + 100), 431),
    ("two Content-Lengths", b"Content-Length: 1\r\nContent-Length: 3\r\n\r\n255", 400),
    ("Content-Length and chunked", b"Content-Length: 3\r\n" + CHUNKED + b"3\r\n255\r\n0\r\n\r\n",
     400),
    ("another encoding", b"Transfer-Encoding: gzip\r\n\r\n", 400),
    ("a signed length", b"Content-Length: +3\r\n\r\n255", 400),
]


def still_served(port, source="127.0.0.9"):
    status = ask(port, request("GET", "/"), source)[0]
    check(status == 200, "another client is served (%d)" % status)


def refused(server):
    submitted = server.log.count("Komut:")
    for name, rest, status in REFUSED:
        client = Client(server.port)
        # The password comes first, so a refusal is the layer's, not the guard's.
        client.send(b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                    PASSWORD.encode() + b"\r\n" + rest)
        got = client.answer()
        check(got[0] == status and "connection: close" in got[1] and client.closed(),
              "%s: %d, not %d and closed" % (name, got[0], status))
        client.close()
    check(server.log.count("Komut:") == submitted, "a refused request reached the queue")
    still_served(server.port)


def deadlines(pool, port):
    """A body that never comes and a head sent a byte at a time are cut by the
    request's deadline, not kept alive by each byte: (seconds, got 408) each."""
    def cut(source, raw, step):
        client = Client(port, source)
        start = time.monotonic()
        for at in range(0, len(raw), step):
            try:
                client.send(raw[at:at + step])
            except OSError:
                break
            if client.closed(within=0.5):
                break
        told = client.closed() and b"408" in client.data
        return time.monotonic() - start, told

    head = b"PUT /api/mask HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    return [pool.submit(cut, "127.0.0.3", head + b"Content-Length: 500\r\n\r\n", 100),
            pool.submit(cut, "127.0.0.4", head + b"X-Slow: " + b"y" * 100, 1)]


def caps(port):
    """The ninth connection from one address is closed at once while another
    address is served; with eight addresses at their cap, a ninth gets nothing."""
    held = [Client(port, "127.0.0.5") for _ in range(PER_ADDRESS)]
    check(Client(port, "127.0.0.5").closed(within=5), "connection over the cap closed")
    still_served(port, "127.0.0.6")
    check(not held[0].closed(within=0.2), "those under the cap stay open")
    held += [Client(port, "127.0.1.%d" % (i // PER_ADDRESS + 1)) for i in range(64 - 8)]
    check(Client(port, "127.0.1.9").closed(within=5), "the 65th connection closed")
    for client in held:
        client.close()


def http(port):
    # Pipelined: answers in request order, the PUT's (answered once the queue
    # tried it) holding the GETs behind it.
    client = Client(port)
    client.send(request("PUT", "/api/channels/8", b"OFF", password=PASSWORD) +
                request("GET", "/api/state", password=PASSWORD) + request("GET", "/nothing"))
    statuses = [client.answer()[0] for _ in range(3)]
    check(statuses == [503, 200, 404], "order: %s" % statuses)
    # HEAD like GET without the body; the lower-case scheme is the same one;
    # blank lines between requests are skipped.
    client.send(request("GET", "/") + b"\r\n\n" + request("HEAD", "/") +
                request("GET", "/api/state", headers=["Authorization: bearer " + PASSWORD]))
    page = client.answer()
    head = client.answer(head=True)
    check(head[0] == 200 and head[1].split("\r\n")[1:] == page[1].split("\r\n")[1:],
          "HEAD has GET's headers")
    check(client.answer()[0] == 200, "bearer in lower case")
    # The head size limit counts each request on its own, not the connection's.
    client.send(request("GET", "/", headers=["X-Pad: " + "x" * 1000]) * 24)
    check([client.answer()[0] for _ in range(24)] == [200] * 24, "24 kept-alive requests")
    check(not client.closed(within=0.3), "kept alive")
    client.close()
    for raw in (request("GET", "/", headers=["Connection: close"]),
                request("GET", "/").replace(b"HTTP/1.1", b"HTTP/1.0")):
        client = Client(port)
        client.send(raw)
        got = client.answer()
        check(got[0] == 200 and "connection: close" in got[1] and client.closed(within=5), raw)
        client.close()


def tls(server):
    """HTTPS: a suite that is not forward-secret is refused, an answer carries
    HSTS, a handshake that never finishes is closed."""
    key, cert = server.path("key.pem"), server.path("cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True, timeout=WAIT)
    check(server.start("--cert", cert, "--key", key), "relo-web başlamadı:\n" + server.log)
    stalled = Client(server.port, "127.0.0.7")
    start = time.monotonic()

    def context(cipher):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        ctx.maximum_version = ssl.TLSVersion.TLSv1_2
        ctx.set_ciphers(cipher)
        return ctx

    try:
        Client(server.port, wrap=context("AES128-SHA"))
        check(False, "AES128-SHA accepted")
    except ssl.SSLError:
        pass
    client = Client(server.port, wrap=context("ECDHE-RSA-AES128-GCM-SHA256"))
    client.send(request("GET", "/"))
    got = client.answer()
    check(got[0] == 200 and "strict-transport-security: max-age=31536000" in got[1], "HSTS")
    client.close()
    check(stalled.closed(within=DEADLINE + 5) and time.monotonic() - start < DEADLINE + 5,
          "stalled handshake closed within its deadline")


def start(server):
    """Whether `server` started with a password file only its owner may read."""
    given = server.path("parola")
    with open(os.open(given, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(PASSWORD + "\n")
    return server.start("--password-file", given)


def guess(port, source, password, login=False):
    """(status, headers) of a request from 127.0.2.`source` with `password`, or
    of a login with it."""
    raw = (request("POST", "/api/login", password.encode()) if login else
           request("GET", "/api/state", password=password))
    return ask(port, raw, "127.0.2.%d" % source)[:2]


def guessing(port):
    # A right password after wrong ones waits as a wrong one would: the
    # second wrong one is held 250 ms, the next check 500 ms after that.
    check(guess(port, 2, "yanlis")[0] == 401, "ilk yanlış parola")
    sent = time.monotonic()
    check(guess(port, 2, "yanlis2", login=True)[0] == 401, "login")
    status = guess(port, 2, PASSWORD)[0]
    waited = time.monotonic() - sent
    check(status == 200 and waited >= 0.7, "doğru parola %d, %.3f s" % (status, waited))

    # 32 guesses at once from one address: one is held and checked, the rest
    # are refused unchecked and told when to come back (or closed unread by
    # the cap on one address's connections).
    check(guess(port, 3, "yanlis")[0] == 401, "yanlış parola")

    def one(_):
        try:
            return guess(port, 3, "yanlis")
        except (EOFError, ConnectionError):
            return 0, ""

    with ThreadPoolExecutor(32) as pool:
        answers = list(pool.map(one, range(32)))
    retries = [re.search(r"retry-after: [1-9]", h) for status, h in answers if status == 429]
    unchecked = len(retries) + [status for status, _ in answers].count(0)
    check(unchecked >= 30 and all(retries), str(answers))


def main():
    server, secure = Server(sys.argv[1]), Server(sys.argv[1])
    try:
        check(start(server), "relo-web başlamadı:\n" + server.log)
        with ThreadPoolExecutor(2) as pool:
            slow = deadlines(pool, server.port)
            refused(server)
            http(server.port)
            tls(secure)
            for what, result in zip(("body", "head"), slow):
                took, told = result.result(WAIT)
                check(told and took < DEADLINE + 5, "%s deadline: %.1f s" % (what, took))
        guessing(server.port)
        caps(server.port)
        # Another relo-web on the same address cannot start.
        taken = Server(sys.argv[1])
        taken.port = server.port
        check(not taken.start() and taken.stop() == 1 and
              taken.log.startswith("relo-web başlatılamadı: 127.0.0.1:"), taken.log)
        taken.remove()
        check(server.stop() == 0, "relo-web durmadı")
        # One line a minute per address, not one per try.
        lines = [line for line in server.log.splitlines() if line.startswith("Yanlış parola")]
        addresses = [line.split()[2] for line in lines]
        check(len(set(addresses)) == len(addresses) and "127.0.2.3" in addresses, "\n".join(lines))
    except Exception:
        print("relo-web:\n" + server.log + "\nrelo-web (HTTPS):\n" + getattr(secure, "log", ""),
              file=sys.stderr)
        raise
    finally:
        server.remove()
        secure.remove()
    print("PASS: tst_hostile")
    return 0


if __name__ == "__main__":
    sys.exit(main())
