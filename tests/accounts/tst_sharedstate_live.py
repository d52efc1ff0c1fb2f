"""Waits (at most 10 s) until relo-web's /api/live reports the mask given: a
WebSocket client of a few lines (server frames are not masked)."""
import base64, json, os, socket, sys  # noqa: E401

port, want = int(sys.argv[1]), int(sys.argv[2])
s = socket.create_connection(("127.0.0.1", port), timeout=10)
host, key = f"127.0.0.1:{port}", base64.b64encode(os.urandom(16)).decode()
s.sendall(f"GET /api/live HTTP/1.1\r\nHost: {host}\r\nOrigin: http://{host}\r\nUpgrade: websocket\r\n"
          f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n".encode())
buf = b""
while b"\r\n\r\n" not in buf:
    buf += s.recv(4096) or sys.exit("closed")
head, buf = buf.split(b"\r\n\r\n", 1)
if b" 101 " not in head.split(b"\r\n")[0]:
    sys.exit(head.decode(errors="replace"))


def take(n):
    global buf
    while len(buf) < n:
        buf += s.recv(4096) or sys.exit("closed")
    out, buf = buf[:n], buf[n:]
    return out


while True:  # ends with a match, or the socket's timeout
    first, size = take(2)
    size &= 0x7F
    if size >= 126:
        size = int.from_bytes(take(2 if size == 126 else 8), "big")
    payload = take(size)
    if first & 0x0F == 1:
        print(payload.decode(), flush=True)
        if json.loads(payload)["mask"] == want:
            sys.exit(0)
