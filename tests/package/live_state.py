#!/usr/bin/python3
# live_state.py PORT PASSWORD CHANNEL: follows relo-web's /api/live on
# 127.0.0.1:PORT and prints "state MASK" for each state it is sent, until one
# has CHANNEL (1-8) on; exits 1 when the socket closes or stays silent for 10 s.
import base64
import json
import os
import socket
import sys

port, password, channel = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
sock = socket.create_connection(("127.0.0.1", port), timeout=10)
key = base64.b64encode(os.urandom(16)).decode()
sock.sendall(f"GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
             f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
             f"Authorization: Bearer {password}\r\n\r\n".encode())
stream = sock.makefile("rb")
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
    state = json.loads(stream.read(size))
    print("state", state["mask"], flush=True)
    if state["channels"][channel - 1]:
        break
