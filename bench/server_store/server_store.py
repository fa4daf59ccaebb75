#!/usr/bin/env python3
"""update-server's memory while it serves a release store (a benchmark, not a test; Linux).

    server_store.py UPDATE_SERVER [--clients 1000] [--gib 1] [--mib-each 4] [--budget-mib 256]

Lays out a release with three packages of --gib GiB each (the cumulative one, the full one
and one from version 1 with a removal: sparse files made here, each a sound package whose
one big entry carries the right CRC-32), starts update-server on it and has --clients
clients ask at once by the package request (a third for each package), each going on from
its own point of the file and taking --mib-each MiB. Prints the server's peak private
(anonymous) memory, sampled while they are served, and its peak resident size. Run it with
--gib 1 and --gib 2: the figures should not move.
"""
import argparse
import os
import re
import resource
import selectors
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

LOOPBACK = "127.0.0.15"
MAGIC = b"VGRXPACK\r\n\x1a\n"
MARK = 0x50524756
REMOVALS = 1


def crc_of_zeros(size, tail):
    crc, block = 0, bytes(1 << 20)
    left = size - len(tail)
    while left > 0:
        part = min(left, len(block))
        crc = zlib.crc32(block[:part] if part < len(block) else block, crc)
        left -= part
    return zlib.crc32(tail, crc)


def write_package(path, size, tail, removal=None):
    """A package rxpack could have made: one entry of `size` bytes (zeros, then tail), and
    optionally a removal, which makes it a flagged one."""
    entries = [("big.dat", tail)] + ([(removal, None)] if removal else [])
    names = b"".join(name.encode() + b"\0" for name, _ in entries)
    table_at, table_size = 48, 32 * len(entries)
    names_at = table_at + table_size
    data_at = names_at + len(names)
    crc = crc_of_zeros(size, tail)
    table, name_at = b"", 0
    for name, content in entries:
        if content is None:
            table += struct.pack("<QIIII8x", 0, 0, name_at, 0, 1)
        else:
            table += struct.pack("<QIIII8x", data_at, size, name_at, crc, 0)
        name_at += len(name) + 1
    flags = REMOVALS if removal else 0
    header = MAGIC + struct.pack("<IIIQIIQ", 2 if flags else 1, flags, table_size, table_at,
                                 zlib.crc32(table + names), len(names), names_at)
    with open(path, "wb") as f:
        f.write(header + table + names)
        f.truncate(data_at + size - len(tail))
        f.seek(0, os.SEEK_END)
        f.write(tail)


def lay_out(root, gib):
    release = os.path.join(root, "serve")
    os.makedirs(release)
    with open(os.path.join(release, "release.conf"), "w") as f:
        f.write("game_version = 3\n")
    size = gib << 30
    write_package(os.path.join(release, "Velgrim_patch.rxpack"), size, b"cumulative")
    write_package(os.path.join(release, "Velgrim_patch.full.rxpack"), size, b"full")
    write_package(os.path.join(release, "Velgrim_patch.from-1.rxpack"), size, b"from 1", removal="old.map")
    return release


def start(server, release, extra):
    log = os.path.join(os.path.dirname(release), "server.log")
    began = time.monotonic()
    proc = subprocess.Popen([server, "--listen", LOOPBACK, "--port", "0", *extra, release],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(log, "wb"))
    while time.monotonic() < began + 600:
        found = re.search(r"listening on [\d.]+:(\d+)", open(log).read())
        if found:
            return proc, int(found.group(1)), time.monotonic() - began, log
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    proc.kill()
    raise SystemExit("update-server did not start: " + open(log).read())


def status_kib(pid, field):
    found = re.search(rf"{field}:\s+(\d+)", open(f"/proc/{pid}/status").read())
    return int(found.group(1)) if found else 0


def request(installed, features, offset=0, tag=1):
    body = struct.pack("<7I", 1002, offset & 0xFFFFFFFF, tag, MARK, offset >> 32, installed, features)
    return struct.pack("<iI", 256, len(body)) + body


# Installed version and features: from-1, the cumulative package (no removals understood),
# the full one (a version the release does not keep).
ASKS = [(1, REMOVALS), (1, 0), (7, REMOVALS)]


def read_begin(sock):
    """The MSG_FILE_BEGIN after the greeting: (size, tag)."""
    buffer = b""
    while True:
        while len(buffer) < 8:
            buffer += sock.recv(65536)
        msg, length = struct.unpack_from("<iI", buffer)
        while len(buffer) < 8 + length:
            buffer += sock.recv(65536)
        body, buffer = buffer[8:8 + length], buffer[8 + length:]
        if msg == 257:
            count = struct.unpack_from("<I", body)[0]
            low, tag, _, high = struct.unpack_from("<IIII", body, 4 + count)
            return high << 32 | low, tag
        if msg >= 256:
            raise SystemExit(f"unexpected message {msg}")


class CLIENT:
    """Takes chunks and acknowledges each until it has `want` bytes of data."""

    def __init__(self, sock, want):
        self.sock, self.want, self.got = sock, want, 0
        self.header, self.skip, self.data = b"", 0, False

    def feed(self, view):
        at, n = 0, len(view)
        while at < n:
            if self.skip:
                take = min(self.skip, n - at)
                self.skip -= take
                at += take
                if self.data:
                    self.got += take
                if self.skip == 0 and self.data:
                    self.sock.sendall(struct.pack("<iI", 261, 0))
                continue
            take = min(8 - len(self.header), n - at)
            self.header += bytes(view[at:at + take])
            at += take
            if len(self.header) == 8:
                msg, length = struct.unpack("<iI", self.header)
                self.header = b""
                self.data = msg == 258
                self.skip = length
                if self.data:
                    self.got -= 4  # the chunk's count
                if length == 0 and msg == 259:
                    self.got = self.want
        return self.got >= self.want


def run(args):
    root = tempfile.mkdtemp(prefix="velgrim-store-bench-")
    try:
        release = lay_out(root, args.gib)
        proc, port, load_s, log = start(args.server, release, ["--budget-mib", str(args.budget_mib)])
        size = args.gib << 30
        tags = []
        for installed, features in ASKS:
            s = socket.create_connection((LOOPBACK, port))
            s.sendall(request(installed, features))
            announced, tag = read_begin(s)
            assert announced > size, announced
            tags.append(tag)
            s.close()
        idle_anon = status_kib(proc.pid, "RssAnon")
        sel = selectors.DefaultSelector()
        clients = []
        began = time.monotonic()
        for i in range(args.clients):
            s = socket.create_connection((LOOPBACK, port))
            s.setblocking(False)
            which = i % len(ASKS)
            installed, features = ASKS[which]
            # Each goes on from its own point, so that the reads cover the whole files.
            offset = (size - (args.mib_each << 20) - (1 << 20)) * i // args.clients
            s.send(request(installed, features, offset, tags[which]))
            client = CLIENT(s, args.mib_each << 20)
            clients.append(client)
            sel.register(s, selectors.EVENT_READ, client)
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        left, peak_anon, next_sample = len(clients), 0, 0
        while left and time.monotonic() < began + 900:
            for key, _ in sel.select(timeout=0.2):
                client = key.data
                try:
                    n = client.sock.recv_into(buffer)
                except BlockingIOError:
                    continue
                if n == 0 or client.feed(view[:n]):
                    sel.unregister(client.sock)
                    client.sock.close()
                    left -= 1
            if time.monotonic() >= next_sample:
                peak_anon = max(peak_anon, status_kib(proc.pid, "RssAnon"))
                next_sample = time.monotonic() + 0.1
        seconds = time.monotonic() - began
        peak_anon = max(peak_anon, status_kib(proc.pid, "RssAnon"))
        hwm = status_kib(proc.pid, "VmHWM")
        served = sum(min(c.got, c.want) for c in clients)
        proc.terminate()
        proc.wait()
        print(f"{args.clients} clients, three {args.gib} GiB packages, {args.mib_each} MiB each, budget "
              f"{args.budget_mib} MiB: loaded in {load_s:.1f} s; {served / 1e9:.2f} GB served in {seconds:.1f} s"
              f"{'' if left == 0 else f' ({left} clients unfinished)'}; private memory idle "
              f"{idle_anon >> 10} MiB, peak {peak_anon >> 10} MiB; peak resident {hwm >> 10} MiB")
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("server")
    parser.add_argument("--clients", type=int, default=1000)
    parser.add_argument("--gib", type=int, default=1)
    parser.add_argument("--mib-each", type=int, default=4)
    parser.add_argument("--budget-mib", type=int, default=256)
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    if hard < args.clients + 64:
        raise SystemExit(f"the descriptor limit ({hard}) is below what {args.clients} clients need")
    run(args)


if __name__ == "__main__":
    main()
