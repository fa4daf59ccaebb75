#!/usr/bin/env python3
"""update-server under its own limits (a benchmark, not a test; Linux, as root).

    server_limits.py UPDATE_SERVER descriptors   CPU with 300 idle clients under prlimit --nofile=256
    server_limits.py UPDATE_SERVER stalled       memory with 15 clients that stop reading after
                                                 their chunks grew, against --budget-mib 256

Prints what it measured; works with any update-server build (it uses no status port).
"""
import os
import re
import resource
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

LOOPBACK = "127.0.0.14"


def start(server, release, extra=(), wrapper=()):
    log = os.path.join(release, "server.log")
    proc = subprocess.Popen([*wrapper, server, "--listen", LOOPBACK, "--port", "0", *extra, release],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(log, "wb"))
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        found = re.search(r"listening on [\d.]+:(\d+)", open(log).read())
        if found:
            return proc, int(found.group(1))
        time.sleep(0.05)
    proc.kill()
    raise SystemExit("update-server did not start: " + open(log).read())


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def status_kib(pid, field):
    found = re.search(rf"{field}:\s+(\d+)", open(f"/proc/{pid}/status").read())
    return int(found.group(1)) if found else 0


def kernel_queued(port):
    total = 0
    for line in open("/proc/net/tcp").read().splitlines()[1:]:
        parts = line.split()
        if parts[1].endswith(f":{port:04X}"):
            total += int(parts[4].split(":")[0], 16)
    return total


def tcp_mem_pages():
    found = re.search(r"TCP:.* mem (\d+)", open("/proc/net/sockstat").read())
    return int(found.group(1)) if found else 0


def release_dir(root, patch_bytes):
    release = os.path.join(root, "release")
    os.makedirs(release)
    with open(os.path.join(release, "release.conf"), "w") as f:
        f.write("game_version = 5\n")
    # A package without entries (48 zero bytes) carries the bytes: update-server serves only
    # what checks as a package.
    block = bytes(48) + os.urandom((1 << 20) - 48)
    with open(os.path.join(release, "Velgrim_patch.rxpack"), "wb") as f:
        for _ in range(patch_bytes >> 20):
            f.write(block)
    return release


def descriptors(server, root):
    release = release_dir(root, 1 << 20)
    proc, port = start(server, release, wrapper=["prlimit", "--nofile=256:256", "--"])
    clients = []
    for _ in range(300):
        s = socket.socket()
        s.settimeout(5)
        try:
            s.connect((LOOPBACK, port))
        except OSError:
            pass
        clients.append(s)
    time.sleep(2)
    began, cpu = time.monotonic(), cpu_seconds(proc.pid)
    time.sleep(3)
    share = (cpu_seconds(proc.pid) - cpu) / (time.monotonic() - began)
    probe = socket.socket()
    probe.settimeout(3)
    try:
        probe.connect((LOOPBACK, port))
        answer = "greeted" if len(probe.recv(8)) == 8 else "closed at once"
    except OSError:
        answer = "no answer within 3 s"
    log = open(os.path.join(release, "server.log")).read()
    print(f"descriptors: 300 idle clients, nofile 256: {share * 100:.0f}% of a core; a new client "
          f"{answer}; log lines on the limit: "
          f"{len(re.findall(r'cannot accept|as many as it may hold', log))}")
    proc.terminate()
    proc.wait()


def stalled(server, root, clients=15, budget_mib=256, stop_after=64 << 20):
    release = release_dir(root, 512 << 20)
    proc, port = start(server, release, ["--budget-mib", str(budget_mib)])
    time.sleep(0.5)
    base = status_kib(proc.pid, "VmRSS")
    base_tcp = tcp_mem_pages()
    request = struct.pack("<iI", 256, 12) + struct.pack("<III", 1002, 0, 0)
    ack = struct.pack("<iI", 261, 0)
    readers = []
    for _ in range(clients):
        s = socket.create_connection((LOOPBACK, port))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 256 << 10)
        s.sendall(request)
        readers.append([s, bytearray(), 0, False])
    buffer = bytearray(1 << 20)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not all(r[3] for r in readers):
        for r in readers:
            s, pending, got, done = r
            if done:
                continue
            s.settimeout(0.01)
            try:
                n = s.recv_into(buffer)
            except socket.timeout:
                continue
            if n == 0:
                r[3] = True
                continue
            pending += buffer[:n]
            while len(pending) >= 8:
                msg, length = struct.unpack_from("<iI", pending)
                if len(pending) < 8 + length:
                    break
                del pending[:8 + length]
                if msg == 258:
                    got += length - 4
                    s.sendall(ack)
            r[2] = got
            r[3] = got >= stop_after
    time.sleep(3)
    rss = status_kib(proc.pid, "VmRSS") - base
    peak = status_kib(proc.pid, "VmHWM") - base
    queued = kernel_queued(port) >> 10
    tcp = (tcp_mem_pages() - base_tcp) * 4
    print(f"stalled: {clients} clients stopped after {stop_after >> 20} MiB each, budget {budget_mib} MiB: "
          f"process +{rss >> 10} MiB (peak +{peak >> 10} MiB), sockets' queued bytes {queued >> 10} MiB, "
          f"kernel TCP memory +{tcp >> 10} MiB")
    for r in readers:
        r[0].close()
    proc.terminate()
    proc.wait()


def main(argv):
    if len(argv) != 3 or argv[2] not in ("descriptors", "stalled"):
        print(__doc__, file=sys.stderr)
        return 2
    if os.geteuid() != 0:
        print("run as root: the server's send buffers then grow as they would in production", file=sys.stderr)
        return 2
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    root = tempfile.mkdtemp(prefix="velgrim-bench-")
    try:
        {"descriptors": descriptors, "stalled": stalled}[argv[2]](argv[1], root)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
