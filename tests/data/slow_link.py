# SPDX-License-Identifier: Apache-2.0
# A slow network between a sender and a printer: listen on 127.0.0.1:PORT and, for each
# connection, connect to 127.0.0.1:TARGET and pass on what the sender writes at RATE
# bytes a second, in small pieces, with the socket's buffers kept small so that the
# sender sees the link's pace; what the printer answers goes back at once.
import socket
import sys
import threading
import time

port, target, rate = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
piece = max(1, int(rate / 20))
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
listener.bind(("127.0.0.1", port))
listener.listen(4)


def forward_slowly(source, sink):
    start, sent = time.monotonic(), 0
    while True:
        data = source.recv(piece)
        if not data:
            break
        sink.sendall(data)
        sent += len(data)
        time.sleep(max(0.0, start + sent / rate - time.monotonic()))
    sink.shutdown(socket.SHUT_WR)


def answer(source, sink):
    while True:
        data = source.recv(4096)
        if not data:
            break
        sink.sendall(data)


while True:
    sender, _ = listener.accept()
    printer = socket.create_connection(("127.0.0.1", target))
    threading.Thread(target=forward_slowly, args=(sender, printer), daemon=True).start()
    threading.Thread(target=answer, args=(printer, sender), daemon=True).start()
