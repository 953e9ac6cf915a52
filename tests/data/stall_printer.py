# SPDX-License-Identifier: Apache-2.0
# A network printer that takes its data late: listen on 127.0.0.1:PORT, and for each
# connection wait STALL seconds before reading everything into OUT-N.prn, so that the
# sender blocks once the socket's buffers are full, as it does on a busy printer.
# OUT-N.prn.done appears once the connection has been read to its end. An optional
# RCVBUF makes the connections' receive buffers that small (bytes), so that little of
# what is sent leaves the sender's own buffer.
import socket
import sys
import threading
import time

port, out, stall = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
if len(sys.argv) > 4:
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, int(sys.argv[4]))
listener.bind(("127.0.0.1", port))
listener.listen(4)


def take(connection, number):
    time.sleep(stall)
    with open("%s-%d.prn" % (out, number), "wb") as stream:
        while True:
            data = connection.recv(65536)
            if not data:
                break
            stream.write(data)
    connection.close()
    open("%s-%d.prn.done" % (out, number), "w").close()


number = 0
while True:
    connection, _ = listener.accept()
    number += 1
    threading.Thread(target=take, args=(connection, number), daemon=True).start()
