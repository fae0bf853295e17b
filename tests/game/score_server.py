#!/usr/bin/env python3
# score_server.py FILE: a score server on 127.0.0.1:80 that writes each
# request it receives (up to its blank line) into FILE, answers a short
# page and goes on listening. Prints "ready" once it listens.
import socket
import sys

s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80))
s.listen(4)
print("ready", flush=True)
while True:
    c, _ = s.accept()
    data = b""
    c.settimeout(10)
    try:
        while b"\r\n\r\n" not in data:
            part = c.recv(4096)
            if not part:
                break
            data += part
    except OSError:
        pass
    with open(sys.argv[1], "wb") as f:
        f.write(data)
    try:
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nscore kept\r\n")
    except OSError:
        pass
    c.close()
