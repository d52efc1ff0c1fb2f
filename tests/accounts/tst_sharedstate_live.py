"""Waits (at most 10 s) for relo-web's /api/live to report the mask given: a
WebSocket client of a few lines, with the standard library only."""
import base64
import json
import os
import socket
import sys

port, want = int(sys.argv[1]), int(sys.argv[2])
s = socket.create_connection(("127.0.0.1", port), timeout=10)
host = f"127.0.0.1:{port}"
key = base64.b64encode(os.urandom(16)).decode()
s.sendall((f"GET /api/live HTTP/1.1\r\nHost: {host}\r\nOrigin: http://{host}\r\n"
           f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
buf = b""


def take(n):
    global buf
    while len(buf) < n:
        chunk = s.recv(4096)
        if not chunk:
            sys.exit("closed")
        buf += chunk
    out, buf = buf[:n], buf[n:]
    return out


while b"\r\n\r\n" not in buf:
    buf += s.recv(4096) or sys.exit("closed")
head, buf = buf.split(b"\r\n\r\n", 1)
if b" 101 " not in head.split(b"\r\n")[0]:
    sys.exit(head.decode(errors="replace"))
while True:  # ends with a match, or the socket's 10 s timeout
    first, second = take(2)
    size = second & 0x7F
    if size >= 126:
        size = int.from_bytes(take(2 if size == 126 else 8), "big")
    payload = take(size)
    if first & 0x0F == 1:
        print(payload.decode(), flush=True)
        if json.loads(payload)["mask"] == want:
            sys.exit(0)
