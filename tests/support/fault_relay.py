"""A TCP relay on loopback that breaks connections on purpose, for the tests.

It sits between a client (the launcher) and a server (update-server) and forwards both
ways, counting the server's bytes. A plan says what becomes of each connection, by its
number (from 0), once the server has sent it a number of bytes:

    ("pass", None)   forward everything
    ("cut", n)       forward n of the server's bytes, then close: the client gets every one
                     of them and then the end of the stream; the server's side is closed
    ("stall", n)     forward n of the server's bytes, then nothing more, holding both ends
                     open (n = 0 and no target: a server that accepts and never answers)

    relay = FaultRelay(server_port, lambda index, relay: ("cut", 1 << 20))
    ... relay.port ... relay.wait_bytes(n, 30) ... relay.server_bytes ... relay.stop()

Everything is bounded: waits take a time-out, and stop() ends every connection.
"""
import select
import socket
import threading


class FaultRelay:
    def __init__(self, target_port, plan=None):
        self.target_port = target_port
        self.plan = plan or (lambda index, relay: ("pass", None))
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.changed = threading.Condition()
        self.server_bytes = 0      # the server's bytes forwarded, over every connection
        self.connections = 0       # connections accepted
        self.per_connection = []   # the server's bytes forwarded on each
        self.stopping = False
        self.sockets = set()
        self.threads = []
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()

    # ------------------------------------------------------------------ waiting on events

    def _wait(self, predicate, timeout, what):
        with self.changed:
            if not self.changed.wait_for(predicate, timeout):
                raise TimeoutError(f"relay: {what} not within {timeout} s")

    def wait_bytes(self, n, timeout):
        """Until the server has sent n bytes through the relay in all."""
        self._wait(lambda: self.server_bytes >= n, timeout, f"{n} bytes")

    def wait_connections(self, n, timeout):
        self._wait(lambda: self.connections >= n, timeout, f"{n} connections")

    # ------------------------------------------------------------------ forwarding

    def _accept(self):
        while not self.stopping:
            try:
                readable, _, _ = select.select([self.listener], [], [], 0.2)
                if not readable:
                    continue
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.changed:
                index = self.connections
                self.connections += 1
                self.per_connection.append(0)
                self.sockets.add(client)
                self.changed.notify_all()
            thread = threading.Thread(target=self._serve, args=(index, client), daemon=True)
            self.threads.append(thread)
            thread.start()

    def _count(self, index, n):
        with self.changed:
            self.server_bytes += n
            self.per_connection[index] += n
            self.changed.notify_all()

    def _serve(self, index, client):
        mode, limit = self.plan(index, self)
        server = None
        try:
            if self.target_port is not None and not (mode == "stall" and limit == 0):
                server = socket.create_connection(("127.0.0.1", self.target_port), 5)
                with self.changed:
                    self.sockets.add(server)
            sent = 0
            held = mode == "stall" and limit == 0
            if mode == "cut" and limit <= 0:
                client.shutdown(socket.SHUT_WR)
                server.close()
                server = None
            while not self.stopping:
                watched = [client] + ([server] if server is not None and not held else [])
                readable, _, _ = select.select(watched, [], [], 0.2)
                if client in readable:
                    data = client.recv(65536)
                    if not data:
                        return
                    if server is not None and not held:
                        server.sendall(data)
                if server is not None and server in readable and not held:
                    room = 65536 if limit is None else min(65536, limit - sent)
                    data = server.recv(room)
                    if not data:
                        client.shutdown(socket.SHUT_WR)
                        server.close()
                        server = None
                        continue
                    client.sendall(data)
                    sent += len(data)
                    self._count(index, len(data))
                    if limit is not None and sent >= limit:
                        if mode == "cut":
                            # The end of the stream after the last byte: the client reads
                            # them all, then sees the connection gone.
                            client.shutdown(socket.SHUT_WR)
                            server.close()
                            server = None
                        else:
                            held = True
        except OSError:
            pass
        finally:
            for s in (client, server):
                if s is not None:
                    s.close()

    def stop(self):
        self.stopping = True
        self.listener.close()
        with self.changed:
            for s in self.sockets:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self.acceptor.join(5)
        for thread in self.threads:
            thread.join(5)
