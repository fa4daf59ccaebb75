"""End-to-end runs of the launcher: the real binaries in a temporary game directory, the
real update-server, nginx as the web host, and a stand-in game that records its start.

    launcher_e2e.py SCENARIO     runs one scenario (each is one ctest test)
    launcher_e2e.py --list       names them
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import time

from velgrim_e2e import (FALLBACK_PORT, MANIFEST, PATCH, SOURCE, STANDIN, UPDATER, UPDATER_CRASH, UPDATER_SIGNED,
                         UPDATER_V2000, UPDATER_V2001, WINDOWS, E2EError, Game, Scenarios, Scene, ScriptedServer,
                         UpdateServer, check, free_port, make_key, make_release, read, resign, send_file,
                         sign_release, wait_until, write)

scenario = Scenarios()


def started_once(game, timeout=60):
    starts = game.wait_game_started(timeout)
    time.sleep(0.3)  # a second start would show by now
    starts = game.starts()
    check(len(starts) == 1, f"the game was started {len(starts)} times: {starts}")
    check(os.path.basename(starts[0][0]) == "Velgrim.exe" and len(starts[0]) == 1,
          f"the game got {starts[0]}, not its own name alone")


def patch_files():
    return {
        "readme.txt": b"Velgrim 7\r\n",
        "data/maps/coast.map": os.urandom(3 * 1024 * 1024 + 17),
        "data/empty.bin": b"",
        "bin/tools.dat": bytes(range(256)) * 40,
    }


def expect_files(game, files):
    for name, data in files.items():
        path = game.path(name.replace("\\", "/"))
        check(os.path.isfile(path), f"{name} was not unpacked")
        check(read(path) == data, f"{name} differs from the patch")


def game_tree(game):
    """Every file below the game directory with a hash of its bytes, less what any run
    leaves (the stand-in's record of its starts, the launchers' lock)."""
    tree = {}
    for root, _, names in os.walk(game.dir):
        for name in names:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, game.dir)
            if rel not in ("game-started.txt", "velgrim_update.lock"):
                tree[rel] = hashlib.sha256(read(path)).hexdigest()
    return tree


def expect_update_finished(game, files, version):
    expect_files(game, files)
    check(game.version() == version, f"version.txt is {game.version()!r}")
    check(not game.exists(PATCH), "the package was kept after the update")
    check(not game.exists(".velgrim-update"), "the staging area was kept after the update")


def publish_one(scene, port, address="127.0.0.1"):
    scene.web.publish_servers([(address, port, 10, 0)])
    scene.web.start()


@scenario
def up_to_date():
    """Nothing is downloaded, and the parts earlier runs kept are of no more use."""
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 7)))
        publish_one(s, server.port)
        game = Game(s.root, "7\n")
        kept = [name + suffix for name in (PATCH, "UpdaterNew.exe") for suffix in (".part", ".resume")]
        for name in kept:
            write(game.path(name), b"kept by an earlier run")
        check(s.launcher.run(game) == 0, "the launcher failed")
        started_once(game)
        check(game.version() == "7", f"version.txt is {game.version()!r}")
        check(not game.exists(PATCH), "a patch was downloaded")
        check(not any(game.exists(name) for name in kept), "kept parts were left")


@scenario
def patch():
    with Scene() as s:
        files = patch_files()
        # The server's text, with terminal control sequences and more than the 4 KiB shown.
        head = "Velgrim 7\x1b[2J\x1b]0;owned\x07 is out\r\n"
        info = head + "x" * 5000
        server = s.serve(UpdateServer(make_release(s.root, 7, files, info=info)))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        check(s.launcher.run(game) == 0, "the launcher failed")
        started_once(game)
        expect_files(game, files)
        check(game.version() == "7", f"version.txt is {game.version()!r}")
        check("sent Velgrim_patch.rxpack" in server.log(), "the server sent no patch")
        if not WINDOWS:
            out = s.launcher.output()
            check(not any(c in out for c in "\x1b\x07\r"), f"control characters reached the console: {out!r}")
            shown = 4096 - len(head)
            check("Velgrim 7[2J]0;owned is out\n" + "x" * shown + "\n" in out and "x" * (shown + 1) not in out,
                  f"the console did not show the first 4 KiB of the text: {out[:200]!r}")


@scenario
def lower_server_version():
    with Scene() as s:
        files = {"readme.txt": b"rolled back\n"}
        server = s.serve(UpdateServer(make_release(s.root, 5, files)))
        publish_one(s, server.port)
        game = Game(s.root, "9")
        s.launcher.run(game)
        started_once(game)
        expect_files(game, files)
        check(game.version() == "5", f"version.txt is {game.version()!r}")


@scenario
def version_with_blanks():
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 42)))
        publish_one(s, server.port)
        game = Game(s.root, "  42\n")
        s.launcher.run(game)
        started_once(game)
        check(read(game.path("version.txt")) == b"42", f"version.txt is {game.version()!r}")


@scenario
def new_updater():
    """Downloaded, started with "new", copied over the old one (held open for a while),
    restarted, UpdaterNew.exe deleted, then the normal check and the game."""
    with Scene() as s:
        game = Game(s.root, "7")
        new_bytes = read(game.path("Updater.exe")) + b"\0new updater build\0"
        server = s.serve(UpdateServer(make_release(s.root, 7, updater_version=2000, updater_bytes=new_bytes)))
        publish_one(s, server.port)
        # Updater.exe stays held until the server has stopped offering the updater, so the
        # restarted launcher makes the normal check.
        holder = s.launcher.hold(game, "Updater.exe", 120)
        s.launcher.start(game)
        wait_until(lambda: "sent UpdaterNew.exe" in server.log(), 60, "the updater to be sent")
        s.launcher.wait(60)
        check(not game.starts(), "the game was started before the new updater ran")
        server.reload(game_version=7, updater_version=0)
        time.sleep(0.5)  # the new updater is retrying its copy now
        write(game.path("Updater.exe.release"), "")
        holder.wait(30)
        started_once(game)
        check(read(game.path("Updater.exe")) == new_bytes, "Updater.exe was not replaced by the new one")
        check(not game.exists("UpdaterNew.exe"), "UpdaterNew.exe was left behind")
        check(game.version() == "7", f"version.txt is {game.version()!r}")
        check(server.log().count("connection ended") >= 2, "the restarted launcher made no check")


@scenario
def own_version_hand_over():
    """A launcher of version 2000 takes the offer of 2001 and hands over; the new one, of
    version 2001, is offered itself again and goes on to the game: one hand-over, not an
    endless loop."""
    with Scene() as s:
        game = Game(s.root, "7", updater=UPDATER_V2000)
        new_bytes = read(UPDATER_V2001)
        server = s.serve(UpdateServer(make_release(s.root, 7, updater_version=2001, updater_bytes=new_bytes)))
        publish_one(s, server.port)
        s.launcher.start(game)
        started_once(game, timeout=90)
        check(read(game.path("Updater.exe")) == new_bytes, "Updater.exe was not replaced by the new one")
        check(not game.exists("UpdaterNew.exe"), "UpdaterNew.exe was left behind")
        check(server.log().count("sent UpdaterNew.exe") == 1, "the updater was sent more than once")
        check(game.version() == "7", f"version.txt is {game.version()!r}")


@scenario
def offer_above_the_offered_updater():
    """A release that announces updater 2002 but serves the updater of version 2001: the
    launcher of 2000 hands over once; the new one, still offered more than itself, traces
    why, takes the patch and starts the game (no loop of downloads and hand-overs)."""
    with Scene() as s:
        files = {"readme.txt": b"Velgrim 7\n"}
        game = Game(s.root, "3", updater=UPDATER_V2000)
        new_bytes = read(UPDATER_V2001)
        server = s.serve(UpdateServer(make_release(s.root, 7, files, updater_version=2002, updater_bytes=new_bytes)))
        publish_one(s, server.port)
        s.launcher.start(game)
        started_once(game, timeout=90)
        check(read(game.path("Updater.exe")) == new_bytes, "Updater.exe was not replaced by the new one")
        check(server.log().count("sent UpdaterNew.exe") == 1,
              f"the updater was sent {server.log().count('sent UpdaterNew.exe')} times")
        expect_files(game, files)
        check(game.version() == "7", f"version.txt is {game.version()!r}")


@scenario
def own_version_equal_offer():
    """A launcher ignores an updater of its own version and takes the patch."""
    with Scene() as s:
        files = {"readme.txt": b"Velgrim 7\n"}
        game = Game(s.root, "3", updater=UPDATER_V2000)
        server = s.serve(UpdateServer(make_release(s.root, 7, files, updater_version=2000,
                                                   updater_bytes=b"never sent")))
        publish_one(s, server.port)
        s.launcher.run(game)
        started_once(game)
        expect_files(game, files)
        check(game.version() == "7", f"version.txt is {game.version()!r}")
        check("sent UpdaterNew.exe" not in server.log(), "the updater was downloaded")


@scenario
def no_version_file_server_zero():
    """No version.txt reads as version 0: a server at 0 means up to date, and 0 is written."""
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 0)))
        publish_one(s, server.port)
        game = Game(s.root)
        s.launcher.run(game)
        started_once(game)
        check(read(game.path("version.txt")) == b"0", f"version.txt is {game.version()!r}")
        check("sent " not in server.log(), "something was downloaded")


@scenario
def patch_named_otherwise():
    """A server that names the patch otherwise fails the transfer: nothing is written, the
    old package lying in the directory is not unpacked, nothing is recorded."""
    with Scene() as s:
        release = make_release(s.root, 5, {"stale.txt": b"from an old patch\n"})
        old_package = read(os.path.join(release, PATCH))
        server = s.serve(ScriptedServer((8, 0), {1002: send_file("other.rxpack", b"x" * 500)}))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        write(game.path(PATCH), old_package)
        s.launcher.start(game)
        if WINDOWS:
            s.launcher.close_error_notice()
        s.launcher.wait(60)
        started_once(game)
        check(game.version() == "3", f"version.txt is {game.version()!r}")
        check(not game.exists("stale.txt"), "the old package was unpacked")
        check(not game.exists("other.rxpack"), "the announced name was written")
        check(read(game.path(PATCH)) == old_package, "the old package was changed")


@scenario
def damaged_patch():
    """A package cut short, or with a damaged entry, that arrives whole from the server is
    found out before any game file is touched: nothing recorded, the bad package deleted."""
    for damage in ("cut short", "damaged entry"):
        with Scene() as s:
            release = make_release(s.root, 8, patch_files())
            package = bytearray(read(os.path.join(release, PATCH)))
            if damage == "cut short":
                del package[-100:]
            else:
                package[-5] ^= 0x20
            server = s.serve(ScriptedServer((8, 0), {1002: send_file(PATCH, bytes(package), chunk=1 << 20)}))
            publish_one(s, server.port)
            game = Game(s.root, "3")
            write(game.path("readme.txt"), b"Velgrim 3\r\n")
            before = game_tree(game)
            s.launcher.start(game)
            if WINDOWS:
                s.launcher.close_error_notice()
            s.launcher.wait(60)
            started_once(game)
            check(game_tree(game) == before, f"{damage}: the game directory changed")


@scenario
def crash_and_finish():
    """A launcher killed while staging, and in the middle of the swap; the next start, with
    the update server down, puts the whole update in and records it, without a download."""
    for at in ("staged:1", "swapped:2"):
        with Scene() as s:
            files = {f"data/part{i}.bin": os.urandom(200_000 + i) for i in range(6)}
            server = s.serve(UpdateServer(make_release(s.root, 7, files)))
            publish_one(s, server.port)
            game = Game(s.root, "3", updater=UPDATER_CRASH)
            old = {name: b"old " + name.encode() for name in files}
            for name, data in old.items():
                write(game.path(name), data)
            s.launcher.start(game, env={"VELGRIM_TEST_CRASH_AT": at})
            s.launcher.wait(60)
            check(not game.starts(), f"{at}: the killed launcher started the game")
            for name, data in files.items():
                check(read(game.path(name)) in (old[name], data), f"{at}: {name} is neither old nor new")
            server.stop()
            s.launcher.run(game, log_name="restart.log")
            started_once(game)
            expect_update_finished(game, files, "7")


def package_with_removals(files, removed):
    """A flagged package (format 2) of whole files and removals, entries in name order."""
    import zlib
    entries = sorted([(name, data, 0) for name, data in files.items()] + [(name, b"", 1) for name in removed])
    names = b"".join(name.encode() + b"\0" for name, _, _ in entries)
    table_at, table_size = 48, 32 * len(entries)
    names_at = table_at + table_size
    data_at = names_at + len(names)
    table, contents, name_at = b"", b"", 0
    for name, data, kind in entries:
        offset = 0 if kind else data_at + len(contents)
        table += struct.pack("<QIIII8x", offset, len(data), name_at, zlib.crc32(data) if not kind else 0, kind)
        name_at += len(name.encode()) + 1
        contents += data
    header = (b"VGRXPACK\r\n\x1a\n" + struct.pack("<IIIQIIQ", 2, 1, table_size, table_at,
                                                      zlib.crc32(table + names), len(names), names_at))
    return header + table + names + contents


@scenario
def crash_with_removals():
    """A package that removes files (one there, one not), the launcher killed in the swap and
    again in the recovery: the next start finishes it; the removed file is gone, the player's
    own files stay, the version is recorded."""
    files = {"data/new.map": os.urandom(300_000), "readme.txt": b"Velgrim 8\r\n"}
    package = package_with_removals(files, ["data/old.map", "gone.txt"])
    # Entries: 0 data/new.map, 1 data/old.map (removed), 2 gone.txt (removed, absent), 3 readme.txt.
    for at, again in (("swapped:1", None), ("swapped:2", "swapped:2"), ("journal:1", "swapped:1")):
        with Scene() as s:
            server = s.serve(ScriptedServer((8, 0), {1002: send_file(PATCH, package, chunk=1 << 16)}))
            publish_one(s, server.port)
            game = Game(s.root, "7", updater=UPDATER_CRASH)
            write(game.path("data/old.map"), b"old map")
            write(game.path("readme.txt"), b"Velgrim 7\r\n")
            write(game.path("mods/own.cfg"), b"the player's")
            s.launcher.start(game, env={"VELGRIM_TEST_CRASH_AT": at})
            s.launcher.wait(60)
            check(not game.starts(), f"{at}: the killed launcher started the game")
            check(game.exists("data/old.map") or game.exists(".velgrim-update/removed/data/old.map"),
                  f"{at}: the removed file is gone before the version is recorded")
            server.stop()
            if again:
                s.launcher.start(game, env={"VELGRIM_TEST_CRASH_AT": again}, log_name="again.log")
                s.launcher.wait(60)
                check(not game.starts(), f"{at}, {again}: the killed recovery started the game")
            s.launcher.run(game, log_name="restart.log")
            started_once(game)
            expect_update_finished(game, files, "8")
            check(not game.exists("data/old.map"), f"{at}: the removed file stayed")
            check(read(game.path("mods/own.cfg")) == b"the player's", f"{at}: the player's own file changed")


def dump_exception(dump):
    """(code, address) of a minidump's exception stream, after checking its header."""
    check(dump[:4] == b"MDMP", f"no minidump header: {dump[:8]!r}")
    count, directory = struct.unpack_from("<II", dump, 8)
    for i in range(count):
        kind, size, rva = struct.unpack_from("<III", dump, directory + 12 * i)
        if kind == 6:  # ExceptionStream: thread id, alignment, then the exception record
            check(size >= 40 and rva + size <= len(dump), "the exception stream lies outside the dump")
            code, _, _, address = struct.unpack_from("<IIQQ", dump, rva + 8)
            return code, address
    raise E2EError("the minidump has no exception stream")


@scenario
def crash_dump():
    """A fault, then the C++ terminate path, in the middle of an update: each leaves a small
    minidump of the last crash in logs/, naming its exception, and the game is started."""
    if not WINDOWS:
        print("crash_dump: Updater.exe writes the minidump")
        return
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 7, {"data/a.bin": os.urandom(200_000)})))
        publish_one(s, server.port)
        game = Game(s.root, "3", updater=UPDATER_CRASH)
        dump_path = game.path("logs/updater-crash.dmp")
        # The crash test launcher's fault jumps to 0xBAD0; terminate has a code of ours.
        for how, code, address in (("fault", 0xC0000005, 0xBAD0), ("terminate", 0xE0564C54, None)):
            if game.exists("game-started.txt"):
                os.remove(game.path("game-started.txt"))
            s.launcher.start(game, env={"VELGRIM_TEST_CRASH_AT": f"staged:0:{how}"}, log_name=f"{how}.log")
            s.launcher.wait(60)
            started_once(game)
            check(os.listdir(game.path("logs")) == ["updater-crash.dmp"], f"{how}: logs/ holds {os.listdir(game.path('logs'))}")
            dump = read(dump_path)
            # Wine adds the unwind tables of every 64-bit module (about 600 KB); Windows does not.
            check(len(dump) <= 768 * 1024, f"{how}: the dump has {len(dump)} bytes")
            got_code, got_address = dump_exception(dump)
            check(got_code == code, f"{how}: exception code {got_code:#x}, not {code:#x}")
            check(got_address == address if address else got_address != 0, f"{how}: exception address {got_address:#x}")
            print(f"  {how}: {len(dump)} bytes, code {got_code:#x} at {got_address:#x}")
            # The README's way to read it: terminate was called from the C++ runtime,
            # which the program's .debug file names.
            shown = subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "read-crash-dump.py"), dump_path,
                                    UPDATER_CRASH + ".debug"], capture_output=True, text=True, timeout=60)
            check(shown.returncode == 0 and f"exception: {code:#010x}" in shown.stdout, f"{how}: {shown.stdout}")
            if how == "terminate":
                check("function: __cxxabiv1::__terminate" in shown.stdout, f"the .debug file names {shown.stdout}")
        check(game.version() == "3", f"version.txt is {game.version()!r}")


def openssl_in(root, *args, data=None):
    return subprocess.run(["openssl", *args], cwd=root, check=True, input=data, capture_output=True,
                          timeout=60).stdout


def make_code_signing_pkcs12(root):
    """A test CA, a code-signing certificate it issued as a password-protected PKCS#12
    file, and a time-stamping certificate: (ca.pem, the .p12, its password file)."""
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl_in(root, "req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
               "/CN=Velgrim Test CA", "-addext", "basicConstraints=critical,CA:true",
               "-addext", "keyUsage=critical,keyCertSign")
    for name, usage in (("studio", "codeSigning"), ("tsa", "critical,timeStamping")):
        openssl_in(root, "req", *ec, "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj", f"/CN=Velgrim {name}")
        write(os.path.join(root, f"{name}.ext"),
              f"basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage={usage}\n")
        openssl_in(root, "x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                   "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem")
    write(os.path.join(root, "password"), "not on the command line\n")
    openssl_in(root, "pkcs12", "-export", "-inkey", "studio.key", "-in", "studio.pem", "-passout", "file:password",
               "-out", "studio.p12")
    return [os.path.join(root, name) for name in ("ca.pem", "studio.p12", "password")]


class TimeStampService:
    """An RFC 3161 time-stamping service on loopback: openssl ts answers each query with
    the tsa certificate of make_code_signing_pkcs12."""

    def __init__(self, root):
        import http.server
        write(os.path.join(root, "tsa.cnf"), "[tsa]\ndefault_tsa = t\n[t]\nserial = tsa.serial\nsigner_digest = sha256\n"
                                             "default_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256\n")
        write(os.path.join(root, "tsa.serial"), "01\n")

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                write(os.path.join(root, "query.tsq"), query)
                reply = openssl_in(root, "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "query.tsq",
                                   "-signer", "tsa.pem", "-inkey", "tsa.key", "-chain", "ca.pem")
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.server.timeout = 0.2
        self.url = f"http://127.0.0.1:{self.server.server_port}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.thread.join(10)
        self.server.server_close()


def sign_executable(path, p12, password, *extra):
    return subprocess.run(["bash", os.path.join(SOURCE, "scripts", "sign-executable.sh"), "--pkcs12", p12,
                           "--pass-file", password, *extra, path],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)


def verify_signature(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", path],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)


@scenario
def signed_executable():
    """Updater.exe signed with a code-signing certificate and time-stamped by a local
    service: osslsigncode verifies both, a byte changed after signing is found out, a
    time-stamping service that cannot be reached fails the signing and leaves the program
    as it was, and the signed launcher updates a game under Wine."""
    if not WINDOWS:
        print("signed_executable: Authenticode signs the Windows programs")
        return
    with Scene() as s:
        keys = os.path.join(s.root, "keys")
        os.makedirs(keys)
        ca, p12, password = make_code_signing_pkcs12(keys)
        signed = os.path.join(s.root, "Updater.exe")
        write(signed, read(UPDATER))
        service = TimeStampService(keys)
        try:
            done = sign_executable(signed, p12, password, "--timestamp", service.url)
        finally:
            service.stop()
        check(done.returncode == 0, f"signing failed: {done.stderr}")
        checked = verify_signature(signed, ca)
        check(checked.returncode == 0 and "Signature verification: ok" in checked.stdout and
              "Timestamp Server Signature verification: ok" in checked.stdout,
              f"osslsigncode does not verify the signed program: {checked.stdout}{checked.stderr}")

        tampered = os.path.join(s.root, "tampered.exe")
        data = bytearray(read(signed))
        data[len(data) // 3] ^= 0x01
        write(tampered, bytes(data))
        check(verify_signature(tampered, ca).returncode != 0, "a changed byte passed the verification")

        unsigned = os.path.join(s.root, "unsigned.exe")
        write(unsigned, read(UPDATER))
        done = sign_executable(unsigned, p12, password, "--timestamp", f"http://127.0.0.1:{free_port()}/")
        check(done.returncode == 1 and "RFC 3161" in done.stderr, f"signing without its time stamp: {done.stderr}")
        check(read(unsigned) == read(UPDATER), "a failed signing changed the program")

        files = {"readme.txt": b"Velgrim 7, by a signed launcher\n"}
        server = s.serve(UpdateServer(make_release(s.root, 7, files)))
        publish_one(s, server.port)
        game = Game(s.root, "3", updater=signed)
        check(s.launcher.run(game) == 0, "the signed launcher failed")
        started_once(game)
        expect_files(game, files)
        check(game.version() == "7", f"version.txt is {game.version()!r}")


@scenario
def two_launchers():
    """Two launchers started together in one directory, twenty times: one updates and
    starts the game, the other waits for the lock, then goes on as a normal start (finds the
    game up to date and starts it too); the directory ends whole."""
    with Scene() as s:
        files = {"readme.txt": b"Velgrim 7\n", "data/a.bin": os.urandom(300_000)}
        server = s.serve(UpdateServer(make_release(s.root, 7, files)))
        publish_one(s, server.port)
        for pair in range(20):
            game = Game(os.path.join(s.root, f"pair{pair}"), "3")
            launchers = [s.launcher.start(game, log_name=f"pair{pair}-{n}.log") for n in range(2)]
            for proc in launchers:
                proc.wait(120)
            wait_until(lambda: len(game.starts()) >= 2, 60, f"pair {pair}: a game start by each launcher")
            time.sleep(0.3)  # a third start would show by now
            check(len(game.starts()) == 2, f"pair {pair}: the game was started {len(game.starts())} times")
            expect_update_finished(game, files, "7")


@scenario
def unstartable_updater():
    """A new updater that cannot be started (a broken file) leaves the player the game."""
    with Scene() as s:
        broken = b"MZ but not a program\0" * 200
        server = s.serve(UpdateServer(make_release(s.root, 7, updater_version=2000, updater_bytes=broken)))
        publish_one(s, server.port)
        game = Game(s.root, "7")
        s.launcher.run(game)
        started_once(game)
        check(read(game.path("version.txt")) == b"7", f"version.txt is {game.version()!r}")


@scenario
def hand_over_disk_full():
    """A disk that fills during the hand-over's copy (here a file-size limit) leaves
    Updater.exe whole, as it was, and the game is started."""
    if WINDOWS:
        print("hand_over_disk_full: the file-size limit is a Linux test")
        return
    with Scene() as s:
        game = Game(s.root, "7")
        old_bytes = read(game.path("Updater.exe"))
        write(game.path("UpdaterNew.exe"), old_bytes + b"\0new\0")
        os.chmod(game.path("UpdaterNew.exe"), 0o755)
        subprocess.run(["prlimit", f"--fsize={len(old_bytes) // 2}", game.path("UpdaterNew.exe"), "new"],
                       cwd=s.root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        started_once(game)
        check(read(game.path("Updater.exe")) == old_bytes, "Updater.exe changed")
        check(not game.exists("Updater.exe.new"), "the partial copy was left behind")


@scenario
def planted_links():
    """Links already in the game directory (a directory, a file) are never followed out of
    it: the update fails before touching anything, and nothing is written outside."""
    for link in ("data", "readme.txt"):
        with Scene() as s:
            files = {"readme.txt": b"Velgrim 7\n", "data/x.bin": b"x" * 5000}
            server = s.serve(UpdateServer(make_release(s.root, 7, files)))
            publish_one(s, server.port)
            outside = os.path.join(s.root, "outside")
            write(os.path.join(outside, "readme.txt"), b"outside")
            game = Game(s.root, "3")
            os.symlink(outside if link == "data" else os.path.join(outside, "readme.txt"), game.path(link))
            # Wine shows a Unix link to a folder as a link, but one to a file as the file
            # itself; moving the new file in then replaces the link, not what it names.
            refused = link == "data" or not WINDOWS
            s.launcher.start(game)
            if WINDOWS and refused:
                s.launcher.close_error_notice()
            s.launcher.wait(60)
            started_once(game)
            check(sorted(os.listdir(outside)) == ["readme.txt"], f"{link}: something was written outside")
            check(read(os.path.join(outside, "readme.txt")) == b"outside", f"{link}: a file outside was changed")
            check(game.version() == ("3" if refused else "7"), f"{link}: version.txt is {game.version()!r}")


@scenario
def planted_own_names():
    """Links planted under the launcher's own names (its staging folder, its temporary
    files) and a journal naming a file outside: nothing outside is written, truncated or
    deleted, the update goes in and the game starts."""
    if WINDOWS:
        print("planted_own_names: Wine shows a Unix link to a file as the file; the links are planted natively")
        return
    staged = ".velgrim-update"
    cases = {
        "the staging folder": lambda game, outside: os.symlink(outside, game.path(staged)),
        "the download's .part": lambda game, outside: os.symlink(os.path.join(outside, "victim.txt"),
                                                                 game.path(PATCH + ".part")),
        "version.txt.new": lambda game, outside: os.symlink(os.path.join(outside, "victim.txt"),
                                                            game.path("version.txt.new")),
        "the journal's .part": lambda game, outside: (os.makedirs(game.path(staged)), os.symlink(
            os.path.join(outside, "victim.txt"), game.path(staged + "/journal.part"))),
        "a journal naming ../outside": lambda game, outside: (
            write(game.path(staged + "/journal"),
                  b"velgrim-apply 1\nversion 7\nstate swapping\nfile ../outside/victim.txt\n"),
            write(game.path(staged + "/outside/victim.txt"), b"planted")),
        "Updater.exe.new in the hand-over": lambda game, outside: (
            shutil.copy2(game.path("Updater.exe"), game.path("UpdaterNew.exe")),
            os.symlink(os.path.join(outside, "victim.txt"), game.path("Updater.exe.new"))),
    }
    for what, plant in cases.items():
        with Scene() as s:
            files = {"readme.txt": b"Velgrim 7\n", "data/x.bin": b"x" * 5000}
            server = s.serve(UpdateServer(make_release(s.root, 7, files)))
            publish_one(s, server.port)
            outside = os.path.join(s.root, "outside")
            write(os.path.join(outside, "victim.txt"), b"outside")
            write(os.path.join(outside, "keep.txt"), b"keep")
            game = Game(s.root, "3")
            plant(game, outside)
            hand_over = os.path.exists(game.path("UpdaterNew.exe"))
            s.launcher.run(game, args=("new",) if hand_over else ())
            started_once(game)
            check(sorted(os.listdir(outside)) == ["keep.txt", "victim.txt"], f"{what}: the folder outside changed")
            check(read(os.path.join(outside, "victim.txt")) == b"outside", f"{what}: a file outside was changed")
            expect_update_finished(game, files, "7")
            for name in (PATCH + ".part", "version.txt.new", "Updater.exe.new"):
                check(not os.path.lexists(game.path(name)), f"{what}: {name} was left behind")


@scenario
def read_only_folder():
    """A game folder the player may not write (a user who does not own it; root ignores
    permissions): the lock cannot be had, so no update is tried and the game starts at once,
    with nothing written."""
    if WINDOWS:
        print("read_only_folder: Wine runs as the owner of every file here; the permissions are checked natively")
        return
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 7, {"readme.txt": b"Velgrim 7\n"})))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        # The stand-in appends its start to this file, which the player may write.
        write(game.path("game-started.txt"), b"")
        os.chmod(game.path("game-started.txt"), 0o666)
        os.chmod(s.root, 0o755)
        before = game_tree(game)
        os.chmod(game.dir, 0o555)
        try:
            began = time.monotonic()
            s.launcher.run(game, user=65534)
            started_once(game)
            waited = time.monotonic() - began
        finally:
            os.chmod(game.dir, 0o755)
        # It used to wait 60 s for "another launcher" and start nothing.
        check(waited < 30, f"the game started after {waited:.1f} s")
        check(game_tree(game) == before, "something in the game folder changed")
        check(not game.exists("velgrim_update.lock"), "a lock file was made")
        check(not s.web.requests(), f"an update was tried: {s.web.requests()}")


def peak_rss_mib(launcher, game, env=None):
    """Runs the launcher to its end and returns its peak resident memory in MiB."""
    proc = launcher.start(game, env=env, log_name=f"rss-{time.monotonic_ns()}.log")
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_maxrss / 1024


@scenario
def big_patch_memory():
    """A 1 GiB patch goes to disk as it arrives: the launcher's peak memory grows by far
    less than the patch (measured against an up-to-date start of the same launcher)."""
    if WINDOWS:
        print("big_patch_memory: measured natively")
        return
    with Scene() as s:
        release = make_release(s.root, 7)
        # A package without entries and 1 GiB of (sparse) bytes after its header.
        with open(os.path.join(release, PATCH), "wb") as f:
            f.write(bytes(48))
            f.truncate(1 << 30)
        server = s.serve(UpdateServer(release))
        publish_one(s, server.port)
        env = {"ASAN_OPTIONS": "quarantine_size_mb=0:detect_leaks=0"}
        quiet = Game(os.path.join(s.root, "quiet"), "7")
        baseline = peak_rss_mib(s.launcher, quiet, env)
        game = Game(s.root, "3")
        peak = peak_rss_mib(s.launcher, game, env)
        started_once(game)
        check(game.version() == "7", f"version.txt is {game.version()!r}")
        check("sent Velgrim_patch.rxpack" in server.log(), "the patch was not sent")
        grew = peak - baseline
        print(f"peak resident memory: {peak:.0f} MiB, {grew:.0f} MiB more than an up-to-date start")
        check(grew < 64 and peak < 64, f"the launcher grew by {grew:.0f} MiB, to {peak:.0f} MiB, for a 1 GiB patch")


@scenario
def disk_full_download():
    """A disk that fills during the download (here a file-size limit on the launcher)
    fails the transfer: the error notice, no partial or final file, nothing recorded."""
    if WINDOWS:
        print("disk_full_download: the file-size limit is a Linux test")
        return
    with Scene() as s:
        files = {"data/big.bin": os.urandom(3 * 1024 * 1024)}
        server = s.serve(UpdateServer(make_release(s.root, 7, files)))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        subprocess.run(["prlimit", "--fsize=1000000", game.path("Updater.exe")], cwd=s.root, timeout=60,
                       stdin=subprocess.DEVNULL, stdout=open(os.path.join(s.root, "out", "full.log"), "wb"),
                       stderr=subprocess.STDOUT)
        started_once(game)
        output = read(os.path.join(s.root, "out", "full.log")).decode("utf-8", "replace")
        check("\u041f\u043e\u043f\u0440\u043e\u0431\u0443\u0439\u0442\u0435" in output,
              "the error notice was not shown")
        check(not game.exists(PATCH) and not game.exists(PATCH + ".part"), "a partial download was left")
        check(game.version() == "3", f"version.txt is {game.version()!r}")


@scenario
def updater_locked_for_good():
    """The copy never succeeds: the game is started after the last of 100 tries."""
    with Scene() as s:
        game = Game(s.root, "7")
        new_bytes = read(game.path("Updater.exe")) + b"\0new\0"
        write(game.path("UpdaterNew.exe"), new_bytes)
        os.chmod(game.path("UpdaterNew.exe"), 0o755)
        old_bytes = read(game.path("Updater.exe"))
        holder = s.launcher.hold(game, "Updater.exe", 120)
        began = time.monotonic()
        s.launcher.run(game, "UpdaterNew.exe", ["new"], timeout=60)
        started_once(game)
        took = time.monotonic() - began
        check(took >= 9.5, f"gave up after {took:.1f} s")
        write(game.path("Updater.exe.release"), "")
        holder.wait(30)
        check(read(game.path("Updater.exe")) == old_bytes, "Updater.exe changed")


@scenario
def web_host_down():
    """No server list: the built-in fallback server is used."""
    with Scene() as s:
        files = {"readme.txt": b"from the fallback\n"}
        s.serve(UpdateServer(make_release(s.root, 8, files), port=FALLBACK_PORT))
        game = Game(s.root, "3")
        s.launcher.run(game)
        started_once(game)
        expect_files(game, files)
        check(game.version() == "8", f"version.txt is {game.version()!r}")


@scenario
def update_server_down():
    with Scene() as s:
        publish_one(s, 1)  # nothing listens there, nor on the fallback
        game = Game(s.root, "3")
        s.launcher.run(game)
        started_once(game)
        check(game.version() == "3", f"version.txt is {game.version()!r}")


@scenario
def closes_before_answering():
    """No version answer counts as no connection: nothing downloaded, the game started."""
    with Scene() as s:
        server = s.serve(ScriptedServer("close"))
        publish_one(s, server.port)
        game = Game(s.root, "  3\n")
        s.launcher.run(game)
        started_once(game)
        check(read(game.path("version.txt")) == b"3", f"version.txt is {game.version()!r}")
        check(256 not in server.requests, "a file was requested")
        check(not game.exists("UpdaterNew.exe"), "an updater appeared")


@scenario
def updater_download_fails():
    """A failed updater download starts the game, never a stale UpdaterNew.exe."""
    with Scene() as s:
        server = s.serve(ScriptedServer((7, 2000)))  # kind 1003 gets MSG_FILE_FAILED
        publish_one(s, server.port)
        game = Game(s.root, "7")
        # A stale updater from an earlier run, kept by a command line other than "" (the
        # Linux updater refuses any argument but "new", so there it is deleted at start).
        write(game.path("UpdaterNew.exe"), read(game.path("Velgrim.exe")))
        os.chmod(game.path("UpdaterNew.exe"), 0o755)
        s.launcher.start(game, args=["--keep"] if WINDOWS else [])
        if WINDOWS:
            s.launcher.close_error_notice()
        s.launcher.wait(60)
        started_once(game)
        check(game.version() == "7", f"version.txt is {game.version()!r}")


@scenario
def updater_download_cancelled():
    with Scene() as s:
        updater = os.urandom(400_000)
        server = s.serve(ScriptedServer((7, 2000), {1003: send_file("UpdaterNew.exe", updater, chunk=1000,
                                                                    delay=0.05)}))
        publish_one(s, server.port)
        game = Game(s.root, "7")
        s.launcher.start(game)
        wait_until(lambda: 256 in server.requests, 60, "the updater to be requested")
        time.sleep(0.5)
        s.launcher.cancel()
        s.launcher.wait(60)
        started_once(game)
        check(not game.exists("UpdaterNew.exe"), "a partial UpdaterNew.exe was left")
        check(game.version() == "7", f"version.txt is {game.version()!r}")


@scenario
def patch_cancelled():
    with Scene() as s:
        # A real package: its index is checked as soon as it arrives.
        data = package_with_removals({"data/big.bin": os.urandom(400_000)}, [])
        server = s.serve(ScriptedServer((8, 0), {1002: send_file(PATCH, data, chunk=1000, delay=0.05)}))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        s.launcher.start(game)
        wait_until(lambda: 256 in server.requests, 60, "the patch to be requested")
        time.sleep(0.5)
        s.launcher.cancel()
        s.launcher.wait(60)
        started_once(game)
        check(game.version() == "3", f"version.txt is {game.version()!r}")


@scenario
def truncated_patch():
    """The transfer ends before every announced byte came: nothing recorded."""
    with Scene() as s:
        server = s.serve(ScriptedServer((8, 0), {1002: send_file(PATCH, b"x" * 500, announced=1000)}))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        s.launcher.start(game)
        if WINDOWS:
            s.launcher.close_error_notice()
        s.launcher.wait(60)
        started_once(game)
        check(game.version() == "3", f"version.txt is {game.version()!r}")
        check(not game.exists(PATCH), "a truncated patch was kept under its name")


@scenario
def failed_unpack():
    """A patch that cannot be put in whole (a file where it needs a directory) is found out
    before any game file is replaced: nothing changes, nothing is recorded."""
    with Scene() as s:
        files = {"a.txt": b"first\n", "data/b.txt": b"second\n"}
        server = s.serve(UpdateServer(make_release(s.root, 8, files)))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        write(game.path("data"), "a file where the patch wants a directory")
        s.launcher.start(game)
        if WINDOWS:
            s.launcher.close_error_notice()
        s.launcher.wait(60)
        started_once(game)
        check(not game.exists("a.txt"), "an entry was put in although the update could not be whole")
        check(read(game.path("data")) == b"a file where the patch wants a directory", "data was changed")
        check(not game.exists(".velgrim-update"), "the staging area was left behind")
        check(game.version() == "3", f"version.txt is {game.version()!r}")


@scenario
def version_write_fails():
    """version.txt cannot be replaced: the old one stays whole, the game still starts."""
    with Scene() as s:
        server = s.serve(UpdateServer(make_release(s.root, 8)))
        publish_one(s, server.port)
        game = Game(s.root, "3")
        os.mkdir(game.path("version.txt.new"))
        s.launcher.run(game)
        started_once(game)
        check(read(game.path("version.txt")) == b"3", f"version.txt is {game.version()!r}")


@scenario
def signed_release():
    """A launcher built with the studio's key applies a release whose signed manifest nginx
    publishes beside the list (installed 5, release 7); then a valid manifest and a server
    for 6, fetched afresh, change nothing: no rollback, no notice, the game starts."""
    with Scene() as s:
        game = Game(s.root, "5", updater=UPDATER_SIGNED)
        newer = {"readme.txt": b"Velgrim 7\n", "data/map.bin": os.urandom(300_000)}
        steps = [(7, newer, True), (6, {"readme.txt": b"Velgrim 6, replayed\n"}, False)]
        for version, files, applies in steps:
            release = make_release(os.path.join(s.root, f"v{version}"), version, files)
            s.web.publish_manifest(sign_release(release, expires_days=30))
            server = s.serve(UpdateServer(release))
            s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
            if s.web.proc is None:
                s.web.start()
            if game.exists("game-started.txt"):
                os.remove(game.path("game-started.txt"))
            check(s.launcher.run(game) == 0, "the launcher failed")
            started_once(game)
            expect_files(game, newer)
            check(game.version() == "7", f"version.txt is {game.version()!r}, not 7")
            check(("sent Velgrim_patch.rxpack" in server.log()) == applies,
                  "the server sent a patch" if not applies else "the server sent no patch")
            check(not game.exists(PATCH) and not game.exists(PATCH + ".part"), "a package was left")
            check("could not be verified" not in s.launcher.output(), "the manifest was refused")
            server.stop()
        check(s.web.requests().count(f"GET /{MANIFEST} ") == 2, "the manifest was not fetched on each start")


def signed_case_release(root, offers_updater):
    """Game 7 (with an updater of 2000 when asked), signed with the tests' key for 30 days."""
    files = {"readme.txt": b"Velgrim 7, signed\n", "data/map.bin": os.urandom(200_000)}
    updater = read(STANDIN) + b"\0updater signed\0" if offers_updater else None
    release = make_release(root, 7, files, updater_version=2000 if offers_updater else 0, updater_bytes=updater)
    return release, files, sign_release(release, expires_days=30)


def alter_patch(case):
    """The mirror serves another package of the very same size."""
    evil = make_release(os.path.join(case.root, "evil"), 7, {"readme.txt": b"Velgrim 7, hacked\n",
                                                            "data/map.bin": os.urandom(200_000)})
    data = read(os.path.join(evil, PATCH))
    check(len(data) == os.path.getsize(os.path.join(case.release, PATCH)), "the altered package differs in size")
    write(os.path.join(case.release, PATCH), data)
    return case.manifest


def alter_updater(case):
    """The mirror serves another program of the same size (one that would show its start)."""
    path = os.path.join(case.release, "UpdaterNew.exe")
    write(path, read(path).replace(b"\0updater signed\0", b"\0updater hacked\0"))
    return case.manifest


def change_one_byte(case):
    """One hex digit of the patch's SHA-256, the manifest's signature kept."""
    at = case.manifest.index(b"\nfile 1002 ") + 1
    at = case.manifest.index(b"\n", at) - 1
    digit = b"0" if case.manifest[at:at + 1] != b"0" else b"1"
    return case.manifest[:at] + digit + case.manifest[at + 1:]


def serve_other_versions(case):
    write(os.path.join(case.release, "release.conf"), "game_version = 8\nupdater_version = 0\n")
    return case.manifest


class SignedCase:
    def __init__(self, root, release, manifest):
        self.root, self.release, self.manifest = root, release, manifest


# The tampering a signed launcher must see through. Each: what, whether the release offers the
# updater, whether the transfer fails (the window shows its notice), what the console shows
# (natively), and the tampering: (case) -> the manifest nginx publishes (None: none).
TAMPERING = [
    ("patch bytes altered on the mirror", False, True, None, alter_patch),
    ("updater bytes altered on the mirror", True, True, None, alter_updater),
    ("manifest signed by another key", False, False, "bad signature",
     lambda c: sign_release(c.release, key=make_key(os.path.join(c.root, "other.key")), expires_days=30)),
    ("one byte of the manifest changed", False, False, "bad signature", change_one_byte),
    ("manifest expired", False, False, "expired on 2020-01-07T00:00:00Z",
     lambda c: resign(c.manifest, lambda body: re.sub(rb"expires \S+\n", b"expires 2020-01-07T00:00:00Z\n", body))),
    ("server versions differ from the manifest", False, False,
     "the update server offers game 8, updater 0; the manifest game 7, updater 0", serve_other_versions),
    ("manifest missing", False, False, "missing (HTTP 404)", lambda c: None),
    ("manifest truncated", False, False, "malformed", lambda c: c.manifest[:len(c.manifest) // 2]),
    ("manifest with an extra line", False, False, "malformed: line 4",
     lambda c: resign(c.manifest, lambda body: body.replace(b"\nfile 1002 ", b"\nmirror trusted\nfile 1002 "))),
]


@scenario
def signed_release_tampered():
    """A signed launcher downloads, unpacks and starts nothing the studio did not sign: in
    every case of the table nothing is unpacked, UpdaterNew.exe is not started, version.txt
    stays, and the game starts."""
    with Scene() as s:
        failures = []
        for i, (what, offers_updater, transfer_fails, console_text, tamper) in enumerate(TAMPERING):
            root = os.path.join(s.root, f"case{i}")
            game = Game(root, "3", updater=UPDATER_SIGNED)
            release, files, manifest = signed_case_release(root, offers_updater)
            s.web.publish_manifest(tamper(SignedCase(root, release, manifest)))
            server = UpdateServer(release)
            try:
                s.web.publish_servers([("127.0.0.1", server.port, 10, 0)])
                if s.web.proc is None:
                    s.web.start()
                s.launcher.start(game)
                if WINDOWS and transfer_fails:
                    s.launcher.close_error_notice()
                s.launcher.wait(60)
                started_once(game)
                check(game.version() == "3", f"version.txt is {game.version()!r}")
                for name in files:
                    check(not game.exists(name), f"{name} was unpacked")
                check(not game.exists(PATCH) and not game.exists(PATCH + ".part"), "a package was kept")
                check(not game.exists("UpdaterNew.exe"), "an UpdaterNew.exe was kept")
                check(read(game.path("Updater.exe")) == read(UPDATER_SIGNED), "Updater.exe changed")
                if not transfer_fails:
                    check("sent " not in server.log(), "a file was downloaded")
                if not WINDOWS and console_text:
                    check(console_text in s.launcher.output(), f"the console lacks {console_text!r}")
                print(f"  {what}: passed")
            except E2EError as e:
                failures.append(f"{what}: {e}\n{s.launcher.output()}{server.log()}")
                s.launcher.end_run()
            finally:
                server.stop()
        check(not failures, "\n".join(failures))


def console_run(game, *args):
    """The Linux updater run as a person runs it: its exit status and its standard error."""
    done = subprocess.run([game.path("Updater.exe"), *args], cwd=os.path.dirname(game.dir), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=90)
    return done.returncode, done.stderr.decode("utf-8", "replace"), done.stdout.decode("utf-8", "replace")


@scenario
def console_closing_lines():
    """Every run of the console launcher ends with one line on standard error that says how
    it went, and exits 0 whenever the game was started."""
    if WINDOWS:
        return
    web = f"127.0.0.1:{os.environ['VELGRIM_WEB_PORT']}/velgrim_load_servers.php"
    fallback = f"127.0.0.1:{FALLBACK_PORT}"

    def serve(s, version, files=None):
        server = s.serve(UpdateServer(make_release(s.root, version, files)))
        publish_one(s, server.port)

    def closed(s):
        s.web.publish_servers([("127.0.0.1", free_port(), 10, 0)])
        s.web.start()

    def not_a_list(s):
        s.web.publish("<?php echo servers(); ?>\n")
        s.web.start()

    def in_the_way(s):
        serve(s, 2, {"readme.txt": b"new\n"})

    # | what | set-up | game | prepare | status | the closing line, as a pattern |
    cases = [
        ("updated", lambda s: serve(s, 2), "1", None, 0, r"updated to 2; starting the game"),
        ("up to date", lambda s: serve(s, 2), "2", None, 0, r"already up to date \(version 2\); starting the game"),
        ("no server answered", closed, "1", None, 0,
         r"no update server answered \(tried 127\.0\.0\.1:\d+ cannot be reached\); starting the game"),
        ("the list is not a list", not_a_list, "1", None, 0,
         re.escape(f"the server list could not be read ({web} is not a server list: it begins '<?php echo "
                   f"servers(); ?>\\x0a'); no update server answered (tried {fallback} ") + r".*; starting the game"),
        ("no web host", lambda s: None, "1", None, 0,
         re.escape(f"the server list could not be read ({web} gave no answer); no update server answered (tried "
                   f"{fallback} ") + r".*; starting the game"),
        ("the update failed", in_the_way, "1", lambda g: os.makedirs(g.path("readme.txt")), 0,
         r"the update failed: applying Velgrim_patch\.rxpack: readme\.txt is a directory where the update brings "
         r"a file; starting the game"),
        ("the game is missing", lambda s: serve(s, 2), "2", lambda g: os.remove(g.path("Velgrim.exe")), 1,
         r"already up to date \(version 2\); the game could not be started: Velgrim\.exe: No such file or "
         r"directory \(ENOENT\)"),
    ]
    failures = []
    for what, setup, version, prepare, status, line in cases:
        with Scene() as s:
            setup(s)
            game = Game(s.root, version)
            if prepare:
                prepare(game)
            code, err, _ = console_run(game)
            lines = err.splitlines()
            print(f"{what}: {code} {lines[-1] if lines else None!r}")
            last = lines[-1] if lines else ""
            if code != status:
                failures.append(f"{what}: exit status {code}, not {status}: {err!r}")
            if not re.fullmatch("updater: " + line, last):
                failures.append(f"{what}: the closing line is {last!r}")
            if status == 0 and len(game.starts()) != 1:
                failures.append(f"{what}: the game was started {len(game.starts())} times")
    check(not failures, "\n".join(failures))


@scenario
def console_arguments():
    """--help and --version print and touch nothing; any argument but "new" is refused."""
    if WINDOWS:
        return
    # | arguments | status | on standard output | on standard error |
    cases = [
        (["--help"], 0, "usage: updater [new]", ""),
        (["--version"], 0, f"web host: 127.0.0.1:{os.environ['VELGRIM_WEB_PORT']}", ""),
        (["--keep"], 2, "", "updater: unknown argument '--keep'"),
        (["new", "x"], 2, "", "updater: one argument at most"),
        (["-v"], 2, "", "updater: unknown argument '-v'"),
    ]
    failures = []
    with Scene() as s:
        game = Game(s.root)
        before = sorted(os.listdir(game.dir))
        for args, status, out_text, err_text in cases:
            code, err, out = console_run(game, *args)
            if code != status or out_text not in out or err_text not in err:
                failures.append(f"{args}: status {code}, output {out!r}, error {err!r}")
            if sorted(os.listdir(game.dir)) != before:
                failures.append(f"{args}: the game folder changed: {sorted(os.listdir(game.dir))}")
            if game.starts():
                failures.append(f"{args}: the game was started")
    check(not failures, "\n".join(failures))


if __name__ == "__main__":
    sys.exit(scenario.main(sys.argv, __doc__))
