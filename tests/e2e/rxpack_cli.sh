#!/usr/bin/env bash
# rxpack from the command line: exit codes, messages, determinism, and check finding
# damaged packages. Runs the Linux tool natively and the Windows one under Wine.
set -u
rxpack="$VELGRIM_BUILD_DIR/tools/rxpack/rxpack${VELGRIM_EXE:-}"
[ -x "$rxpack" ] || [ -f "$rxpack" ] || { echo "no rxpack at $rxpack"; exit 1; }
. "$VELGRIM_SOURCE_DIR/tests/support/rxpack_cli_checks.sh"
trap 'rm -rf "$work"' EXIT

# patch FILE OFFSET HEXBYTES: overwrites bytes in place.
patch() {
  printf "$(echo "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# reseal FILE: recomputes the index checksum (offset 32) over the entry table and name
# block, so that check reaches a problem planted in them.
reseal() {
  python3 - "$1" <<'PY'
import struct, sys, zlib
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
table_size, table_offset = struct.unpack_from("<IQ", data, 20)
names_size, names_offset = struct.unpack_from("<IQ", data, 36)
crc = zlib.crc32(data[table_offset:table_offset + table_size])
crc = zlib.crc32(data[names_offset:names_offset + names_size], crc)
struct.pack_into("<I", data, 32, crc)
open(path, "wb").write(data)
PY
}

# --- help and bad arguments
run 0 --help;                      expect_in "$out" "create OUT.rxpack DIR"; expect_in "$out" "extract PKG [DIR]"
run 0 list --help;                 expect_in "$out" "usage: rxpack"
run 2;                             expect_in "$err" "no command given"
run 2 unpack x;                    expect_in "$err" "unknown command 'unpack'"
run 2 create only-one-argument;    expect_in "$err" "create takes OUT.rxpack and DIR"
run 2 list;                        expect_in "$err" "list takes PKG"
run 2 check a b;                   expect_in "$err" "check takes PKG"
run 2 extract a b c;               expect_in "$err" "extract takes PKG and an optional DIR"

# --- missing files
run 1 list missing.rxpack;         expect_in "$err" "missing.rxpack: cannot be opened"
run 1 check missing.rxpack;        expect_in "$err" "missing.rxpack: cannot be opened"
run 1 extract missing.rxpack out;  expect_in "$err" "cannot open missing.rxpack"
# The system's words for a folder where a package belongs, and for a missing folder.
mkdir -p a-folder
# | command | the message | on Linux |
while IFS='|' read -r args message linux; do
  # shellcheck disable=SC2086
  run 1 $args;                     expect_in "$err" "$message"
  [ -z "${VELGRIM_RUN:-}" ] && expect_in "$err" "$message$linux"
done <<'CASES'
list a-folder|rxpack: a-folder: cannot be opened: |Is a directory (EISDIR)
check a-folder|rxpack: a-folder: cannot be opened: |Is a directory (EISDIR)
list no-such-dir/p.rxpack|rxpack: no-such-dir/p.rxpack: cannot be opened: |No such file or directory (ENOENT)
extract no-such-dir/p.rxpack out|rxpack: cannot open no-such-dir/p.rxpack: |No such file or directory (ENOENT)
CASES
run 1 create p.rxpack no-such-dir; expect_in "$err" "rxpack: no-such-dir: "
[ -e p.rxpack ] && fail "create left p.rxpack after failing"

# --- create refuses where the mistake is made, in the system's words, and writes nothing
mkdir -p v2/data empty/sub
printf 'x' >v2/data/a.bin
printf 'not a folder' >plain.txt
# | status | arguments | the message | on Linux, also |
while IFS='|' read -r status args message linux; do
  # shellcheck disable=SC2086
  run "$status" create $args;      expect_in "$err" "$message"
  [ -z "${VELGRIM_RUN:-}" ] && [ -n "$linux" ] && expect_in "$err" "$linux"
done <<'CASES'
2|v2 out.rxpack|v2 is a folder, and the package is written to the first argument: to pack v2, say 'rxpack create out.rxpack v2'|
2|v2 empty|v2 is a folder, and the package is written to the first argument: to pack v2, say 'rxpack create OUT.rxpack v2'|
1|out.rxpack empty|empty holds no file: a package of nothing would update nothing|
1|out.rxpack plain.txt|plain.txt is a file; the folder to pack comes last|
1|out.rxpack no-such-dir/v2|rxpack: no-such-dir/v2: |No such file or directory (ENOENT)
1|no-such-dir/out.rxpack v2|cannot create no-such-dir/|No such file or directory (ENOENT)
1|out.rxpack/x.rxpack v2|cannot create out.rxpack/|
CASES
[ -e out.rxpack ] && fail "a refused create left out.rxpack"
# A package past what the wire carries is refused before a byte is written (sparse files).
if [ -z "${VELGRIM_RUN:-}" ]; then
  mkdir -p huge && truncate -s 2147483648 huge/a.bin huge/b.bin
  run 1 create huge.rxpack huge;   expect_in "$err" "the package would be 4294967420 bytes; update-server serves at most 4294967294"
  [ -e huge.rxpack ] && fail "the refused package was written"
  rm -rf huge
fi

# --- create, list, check, extract
mkdir -p tree/data/maps tree/empty-dir "tree/with space"
printf 'hello\n' >tree/readme.txt
printf '' >tree/data/zero.bin
head -c 70000 /dev/urandom >tree/data/maps/town.map
printf 'x' >"tree/with space/file.txt"
run 0 create p.rxpack tree;        expect_in "$out" "p.rxpack: 4 files, 70007 bytes"
run 0 create again.rxpack tree
cmp -s p.rxpack again.rxpack || fail "the same tree gave different packages"
run 0 list p.rxpack
# header 48, table 4 x 32, names 64 bytes, then the contents in name order
printf 'data/maps/town.map\t70000\t240\ndata/zero.bin\t0\t70240\nreadme.txt\t6\t70240\nwith space/file.txt\t1\t70246\n' \
  >"$log/expected"
diff -u "$log/expected" "$out" || fail "list output differs"
run 0 check p.rxpack;              expect_in "$out" "p.rxpack: OK, 4 files"
run 0 extract p.rxpack out;        expect_in "$out" "4 files, 70007 bytes extracted into out"
for f in readme.txt data/zero.bin data/maps/town.map "with space/file.txt"; do
  cmp -s "tree/$f" "out/$f" || fail "extracted $f differs"
done
mkdir here && (cd here && ${VELGRIM_RUN:+"$VELGRIM_RUN"} "$rxpack" extract ../p.rxpack >/dev/null 2>&1) \
  || fail "extract into the current directory failed"
cmp -s tree/data/maps/town.map here/data/maps/town.map || fail "extract without DIR did not use the current directory"

# --- check finds damage, and names the first problem
cp p.rxpack crc.rxpack; patch crc.rxpack $((240 + 100)) 00ff
run 1 check crc.rxpack;            expect_in "$err" 'entry 0 ("data/maps/town.map"): content checksum mismatch'
cp p.rxpack offset.rxpack; patch offset.rxpack $((48 + 64)) ffffff7f   # readme.txt's data offset
run 1 check offset.rxpack;         expect_in "$err" "index checksum mismatch"
reseal offset.rxpack
run 1 check offset.rxpack;         expect_in "$err" 'entry 2 ("readme.txt"): content (offset 2147483647, 6 bytes) runs past the end'
run 1 extract offset.rxpack far;   expect_in "$err" "readme.txt: the package ends inside its content"
cp p.rxpack table.rxpack; patch table.rxpack 24 00000001   # table offset 2^24
run 1 check table.rxpack;          expect_in "$err" "the entry table (offset 16777216, 128 bytes) runs past the end"
run 1 list table.rxpack;           expect_in "$err" "runs past the end"
run 1 extract table.rxpack bad;    expect_in "$err" "runs past the end"
head -c 30 p.rxpack >short.rxpack
run 1 check short.rxpack;          expect_in "$err" "the header is short"
run 1 extract short.rxpack bad;    expect_in "$err" "the header is short"
printf 'not a package at all, just some text that is long enough for a header' >text.rxpack
run 1 check text.rxpack;           expect_in "$err" "text.rxpack:"
cp p.rxpack cut.rxpack; truncate -s -3 cut.rxpack
run 1 check cut.rxpack;            expect_in "$err" 'entry 2 ("readme.txt"): content (offset 70240, 6 bytes) runs past'
run 1 extract cut.rxpack cutout;   expect_in "$err" "the package ends inside its content"
cmp -s tree/data/maps/town.map cutout/data/maps/town.map || fail "extract of a cut package lost the intact entries"

# --- unsafe names are refused by create, check and extract
if [ -z "${VELGRIM_EXE:-}" ]; then
  mkdir -p evil && printf 'x' >evil/nul.txt
  run 1 create evil.rxpack evil;   expect_in "$err" '"nul.txt" cannot be unpacked safely'
fi
cp p.rxpack unsafe.rxpack; patch unsafe.rxpack $((48 + 128 + 33)) 2e2e2f   # "readme.txt" -> "../dme.txt"
reseal unsafe.rxpack
run 1 check unsafe.rxpack;         expect_in "$err" 'entry 2 ("../dme.txt"): unsafe name'
run 1 extract unsafe.rxpack safe;  expect_in "$err" '"../dme.txt": cannot be created'
[ -e dme.txt ] && fail "extract wrote outside its directory"
cmp -s tree/data/zero.bin safe/data/zero.bin || fail "the safe entries were not extracted"

# --- the launcher's own names are never packed; names that merely start with dots are
for own in Updater.exe UpdaterNew.exe velgrim_update.lock VERSION.txt .velgrim-update/journal; do
  rm -rf owntree && mkdir -p "owntree/$(dirname "$own")" && printf 'x' >"owntree/$own" && printf 'r' >owntree/readme.txt
  run 1 create own.rxpack owntree; expect_in "$err" "\"$own\" is a name the launcher keeps for itself"
  [ -e own.rxpack ] && fail "create packed $own"
done
mkdir -p dots && printf 'cfg' >dots/..cfg
run 0 create dots.rxpack dots;     expect_in "$out" "dots.rxpack: 1 files"
run 0 extract dots.rxpack dotsout
[ "$(cat dotsout/..cfg)" = cfg ] || fail "..cfg was not extracted"

# --- links: create packs a link to a file inside the tree as that file and refuses other
# links; extract never follows a link already in its directory; a '\' in a name and names
# that differ only in case (accented letters too) are refused
if [ -z "${VELGRIM_EXE:-}" ]; then
  mkdir -p linked/sub outside && printf 'real' >linked/real.txt && printf 'outside' >outside/o.txt
  ln -s real.txt linked/alias.txt
  run 0 create linked.rxpack linked
  run 0 list linked.rxpack;        expect_in "$out" "alias.txt"
  ln -s ../outside/o.txt linked/out.txt
  run 1 create bad.rxpack linked;  expect_in "$err" "linked/out.txt is a link to"; expect_in "$err" "outside the tree"
  rm linked/out.txt && ln -s sub linked/dirlink
  run 1 create bad.rxpack linked;  expect_in "$err" "linked/dirlink is a link to a directory"
  rm linked/dirlink
  mkdir -p slash && printf 'x' >'slash/a\b.txt'
  run 1 create bad.rxpack slash;   expect_in "$err" "a '\\' in a file name is a directory separator on Windows"
  mkdir -p case && printf '1' >case/café && printf '2' >case/CAFÉ
  run 1 create bad.rxpack case;    expect_in "$err" "name one file on Windows"
  [ -e bad.rxpack ] && fail "create left a package after refusing"
  mkdir -p into && ln -s ../outside into/data
  mkdir -p tree2/data && printf 'inside' >tree2/data/o.txt
  run 0 create data.rxpack tree2
  run 1 extract data.rxpack into;  expect_in "$err" '"data/o.txt": cannot be created'
  [ "$(cat outside/o.txt)" = outside ] || fail "extract wrote through a link out of its directory"
  rm into/data && mkdir into/data && ln -s ../../outside/o.txt into/data/o.txt
  run 1 extract data.rxpack into;  expect_in "$err" '"data/o.txt": cannot be created'
  [ "$(cat outside/o.txt)" = outside ] || fail "extract wrote through a link over a file"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "rxpack CLI: all checks passed"
