#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Send half an IPP request and wait for the server to close the connection.

Usage: half_request.py PORT KIND
KIND is "header" (the request line and some fields, then nothing), "trickle" (the
header a byte every half second, never ending) or "body" (the whole header, then the
first nine of the thousand bytes it announces: the start of a Print-Job request). Prints "closed" and exits 0 once the server has
closed the connection; prints "open" and exits 1 if it is still open after 30 s.
"""
import socket
import sys
import time

HEADER = (b"POST /ipp/print/label HTTP/1.1\r\nHost: localhost\r\n"
          b"Content-Type: application/ipp\r\nContent-Length: 1000\r\n")


def closed(connection):
    """Whether the server has closed the connection, reading away what it answered."""
    while True:
        try:
            if connection.recv(4096, socket.MSG_DONTWAIT) == b"":
                return True
        except BlockingIOError:
            return False
        except OSError:
            return True


def main():
    port, kind = int(sys.argv[1]), sys.argv[2]
    connection = socket.create_connection(("127.0.0.1", port))
    if kind == "header":
        connection.sendall(HEADER[:60])
    elif kind == "body":
        connection.sendall(HEADER + b"\r\n" + bytes([2, 0, 0, 2, 0, 0, 0, 1, 1]))
    trickle = HEADER + b"X-Filler: x\r\n" * 100
    end = time.monotonic() + 30
    while time.monotonic() < end:
        if kind == "trickle":
            try:
                connection.send(trickle[:1])
            except OSError:
                break
            trickle = trickle[1:]
        time.sleep(0.5)
        if closed(connection):
            break
    else:
        print("open")
        return 1
    print("closed")
    return 0


sys.exit(main())
