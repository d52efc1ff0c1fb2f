#!/usr/bin/python3
# live_state.py PORT MASK [PASSWORD]: follows relo-web's /api/live on
# 127.0.0.1:PORT, printing "state N" for each state it is sent, until the mask
# is MASK; exits 1 when the socket closes or stays silent for 10 s. A WebSocket
# client of a few lines: the server's frames are not masked.
import base64, json, os, socket, sys  # noqa: E401

port, want = int(sys.argv[1]), int(sys.argv[2])
host, key = f"127.0.0.1:{port}", base64.b64encode(os.urandom(16)).decode()
auth = f"Authorization: Bearer {sys.argv[3]}\r\n" if len(sys.argv) > 3 else ""
stream = socket.create_connection(("127.0.0.1", port), timeout=10).makefile("rwb")
stream.write(f"GET /api/live HTTP/1.1\r\nHost: {host}\r\nOrigin: http://{host}\r\nUpgrade: websocket\r\n"
             f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n{auth}\r\n".encode())
stream.flush()
if b" 101 " not in stream.readline():
    sys.exit("no WebSocket")
while stream.readline() not in (b"\r\n", b""):
    pass
while True:
    head = stream.read(2)
    if len(head) < 2:
        sys.exit("closed")
    size = head[1] & 0x7F
    if size > 125:
        size = int.from_bytes(stream.read(2 if size == 126 else 8), "big")
    payload = stream.read(size)
    if head[0] & 0x0F == 1:
        print("state", json.loads(payload)["mask"], flush=True)
        if json.loads(payload)["mask"] == want:
            break
