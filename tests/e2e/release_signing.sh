#!/usr/bin/env bash
# Signed releases from the studio's side: rxpack sign-release / verify-release round trip,
# openssl accepting the signature as a standard one, refusals with their reasons,
# update-server --manifest warnings, and the build's key embedding. The Linux rxpack signs;
# the Windows one (under Wine) verifies manifests signed with the openssl command line.
set -u
rxpack="$VELGRIM_BUILD_DIR/tools/rxpack/rxpack${VELGRIM_EXE:-}"
server="$VELGRIM_BUILD_DIR/tools/update_server/update-server"
signature_tool="$VELGRIM_SOURCE_DIR/tests/support/p256_signature.py"
[ -f "$rxpack" ] || { echo "no rxpack at $rxpack"; exit 1; }
. "$VELGRIM_SOURCE_DIR/tests/support/rxpack_cli_checks.sh"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# sign_with_openssl KEY BODY_FILE > MANIFEST: the manifest signed by the openssl command line.
sign_with_openssl() {
  openssl dgst -sha256 -sign "$1" -out "$log/sig.der" "$2" || return 1
  cat "$2"
  echo "signature $(python3 "$signature_tool" to-raw "$log/sig.der")"
}
# body GAME UPDATER PATCH [UPDATER_FILE] [EXPIRES]: a manifest's signed text for files on disk.
body() {
  printf 'velgrim-release 1\ngame_version %s\nupdater_version %s\n' "$1" "$2"
  printf 'file 1002 Velgrim_patch.rxpack %s %s\n' "$(stat -c %s "$3")" "$(sha256sum <"$3" | cut -c1-64)"
  [ -n "${4:-}" ] && printf 'file 1003 UpdaterNew.exe %s %s\n' "$(stat -c %s "$4")" "$(sha256sum <"$4" | cut -c1-64)"
  [ -n "${5:-}" ] && printf 'expires %s\n' "$5"
  return 0
}

# --- keys, as the README makes them
openssl ecparam -name prime256v1 -genkey -noout -out release.key 2>/dev/null
openssl ec -in release.key -pubout -out release.pub 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out other.key 2>/dev/null
openssl ec -in other.key -pubout -out other.pub 2>/dev/null
openssl ecparam -name secp384r1 -genkey -noout -out p384.key 2>/dev/null
openssl ec -in p384.key -pubout -out p384.pub 2>/dev/null
[ -s release.pub ] && [ -s p384.pub ] || { echo "openssl could not make the keys"; exit 1; }

# --- a release directory as update-server serves it: game 7, an updater offered
mkdir -p tree rel
printf 'new map\n' >tree/town.map
head -c 50000 /dev/urandom >tree/data.bin
run 0 create rel/Velgrim_patch.rxpack tree
head -c 123904 /dev/urandom >rel/UpdaterNew.exe
printf 'game_version = 7\nupdater_version = 1100\n' >rel/release.conf

# --- help and usage
run 0 --help;                          expect_in "$out" "sign-release --key KEY (--expires-days N | --no-expiry) RELEASE_DIR"
expect_in "$out" "verify-release --pub PUB MANIFEST [RELEASE_DIR]"
run 2 sign-release rel;                expect_in "$err" "sign-release takes --key KEY (--expires-days N | --no-expiry) RELEASE_DIR"
run 2 sign-release --key release.key;  expect_in "$err" "sign-release takes --key KEY"
run 2 sign-release --key release.key a b; expect_in "$err" "sign-release takes --key KEY"
run 2 sign-release --key;              expect_in "$err" "--key needs a value"
run 2 sign-release --key= rel;         expect_in "$err" "--key needs a value"
run 2 sign-release --key a --key b rel; expect_in "$err" "--key is given twice"
run 2 sign-release --pub release.pub rel; expect_in "$err" "unknown option '--pub'"
# The expiry is a choice: one of the two, said out loud, and never both.
run 2 sign-release --key release.key rel
expect_in "$err" "sign-release needs --expires-days N (re-sign before then) or --no-expiry: a manifest that never expires can be replayed"
[ -s "$out" ] && fail "sign-release printed a manifest without an expiry choice"
run 2 sign-release --key release.key --no-expiry --expires-days 30 rel
expect_in "$err" "sign-release takes --expires-days N or --no-expiry, not both"
run 2 sign-release --key release.key --no-expiry=yes rel; expect_in "$err" "--no-expiry takes no value"
run 2 sign-release --key release.key --no-expiry --no-expiry rel; expect_in "$err" "--no-expiry is given twice"
for days in 0 abc -1 36501 999999999999; do
  run 2 sign-release --key release.key --expires-days "$days" rel
  expect_in "$err" "--expires-days needs a whole number of days from 1 to 36500, not '$days'"
done
run 2 verify-release m.txt;            expect_in "$err" "verify-release takes --pub PUB MANIFEST [RELEASE_DIR]"
run 2 verify-release --pub release.pub; expect_in "$err" "verify-release takes --pub PUB"
run 2 verify-release --pub release.pub a b c; expect_in "$err" "verify-release takes --pub PUB"

if [ -z "${VELGRIM_EXE:-}" ]; then
  # --- sign, verify, and openssl agrees
  run 0 sign-release --key release.key --expires-days 30 rel
  cp "$out" m.txt
  [ -s "$err" ] && fail "sign-release wrote to stderr: $(cat "$err")"
  head -n -1 m.txt >signed.txt
  expires=$(sed -n 's/^expires //p' m.txt)
  body 7 1100 rel/Velgrim_patch.rxpack rel/UpdaterNew.exe "$expires" >expected.txt
  cmp -s signed.txt expected.txt || fail "the manifest's lines differ: $(diff expected.txt signed.txt)"
  want=$(( $(date -u +%s) + 30 * 86400 ))
  got=$(date -u -d "$expires" +%s 2>/dev/null || echo 0)
  [ $((got - want)) -le 0 ] && [ $((want - got)) -le 60 ] || fail "expires $expires is not 30 days from now"
  grep -qE '^signature [0-9a-f]{128}$' <(tail -n 1 m.txt) || fail "bad signature line: $(tail -n 1 m.txt)"
  python3 "$signature_tool" to-der "$(tail -n 1 m.txt | cut -d' ' -f2)" sig.der
  openssl dgst -sha256 -verify release.pub -signature sig.der signed.txt >"$log/openssl" 2>&1 \
    || fail "openssl does not accept the signature: $(cat "$log/openssl")"
  openssl dgst -sha256 -verify other.pub -signature sig.der signed.txt >/dev/null 2>&1 \
    && fail "openssl accepts the signature under another key"
  run 0 verify-release --pub release.pub m.txt rel
  expect_in "$out" "m.txt: OK, signed; game_version 7, updater_version 1100, expires $expires; rel matches it"
  run 0 sign-release --key=release.key --no-expiry rel
  grep -q '^expires' "$out" && fail "a manifest signed with --no-expiry has an expiry"
  cp "$out" noexpiry.txt
  run 0 verify-release --pub=release.pub noexpiry.txt
  expect_in "$out" "noexpiry.txt: OK, signed; game_version 7, updater_version 1100, no expiry"

  # --- with mirrors: format 3, the cumulative package and the mirrors in the order given
  run 0 sign-release --key release.key --no-expiry --mirror https://cdn.example.com/velgrim/ \
    --mirror=http://10.0.0.5:8080 rel
  head -n -1 "$out" >signed3.txt
  {
    printf 'velgrim-release 3\ngame_version 7\nupdater_version 1100\n'
    printf 'file 1003 UpdaterNew.exe 123904 %s\n' "$(sha256sum <rel/UpdaterNew.exe | cut -c1-64)"
    printf 'package cumulative plain %s %s\n' "$(stat -c %s rel/Velgrim_patch.rxpack)" \
      "$(sha256sum <rel/Velgrim_patch.rxpack | cut -c1-64)"
    printf 'mirror https://cdn.example.com/velgrim/\nmirror http://10.0.0.5:8080\n'
  } >expected3.txt
  cmp -s signed3.txt expected3.txt || fail "the format-3 manifest's lines differ: $(diff expected3.txt signed3.txt)"
  run 2 sign-release --key release.key --no-expiry --mirror ftp://cdn.example.com/ rel
  expect_in "$err" "--mirror 'ftp://cdn.example.com/': not an http:// or https:// URL"

  # --- sign-release refuses what update-server refuses, and keys that are not the studio's
  mkdir -p bad/noconf bad/conf bad/nopatch bad/noupdater bad/notpkg
  cp rel/Velgrim_patch.rxpack bad/noconf/
  printf 'game_version = seven\n' >bad/conf/release.conf; cp rel/Velgrim_patch.rxpack bad/conf/
  printf 'game_version = 7\n' >bad/nopatch/release.conf
  printf 'game_version = 7\nupdater_version = 2000\n' >bad/noupdater/release.conf
  cp rel/Velgrim_patch.rxpack bad/noupdater/
  printf 'game_version = 7\n' >bad/notpkg/release.conf; printf 'not a package' >bad/notpkg/Velgrim_patch.rxpack
  while IFS='|' read -r key dir message; do
    run 1 sign-release --key "$key" --expires-days 30 "$dir"
    expect_in "$err" "$message"
    [ -s "$out" ] && fail "sign-release --key $key $dir printed a manifest after refusing"
  done <<'CASES'
release.key|no-such-dir|refusing to sign, update-server would refuse this release: no-such-dir: not a directory
release.key|bad/noconf|bad/noconf/release.conf: missing
release.key|bad/conf|bad/conf/release.conf: line 1: 'game_version' needs an unsigned 32-bit decimal number
release.key|bad/nopatch|bad/nopatch/Velgrim_patch.rxpack: missing
release.key|bad/noupdater|UpdaterNew.exe: missing (updater_version 2000 offers an updater)
release.key|bad/notpkg|refusing to sign, update-server would refuse this release: bad/notpkg/Velgrim_patch.rxpack: not a sound package
release.pub|rel|release.pub: not a PEM private key (make keys with: openssl ecparam -name prime256v1
no-such.key|rel|no-such.key: cannot be opened
p384.key|rel|p384.key: not a P-256 (prime256v1) key
CASES
else
  # The Windows rxpack verifies but does not sign.
  run 1 sign-release --key release.key --expires-days 30 rel
  expect_in "$err" "sign-release is not available in the Windows build of rxpack (it signs with OpenSSL)"
  body 7 1100 rel/Velgrim_patch.rxpack rel/UpdaterNew.exe "2999-01-01T00:00:00Z" >signed.txt
  sign_with_openssl release.key signed.txt >m.txt
  run 0 verify-release --pub release.pub m.txt rel
  expect_in "$out" "m.txt: OK, signed; game_version 7, updater_version 1100, expires 2999-01-01T00:00:00Z; rel matches it"
fi

# --- verify-release refuses what a launcher would refuse (the manifest check has its own table)
body 7 1100 rel/Velgrim_patch.rxpack rel/UpdaterNew.exe "2020-01-01T00:00:00Z" >expired-body.txt
sign_with_openssl release.key expired-body.txt >expired.txt
head -c 130000 /dev/zero | tr '\0' '\n' >long.txt
while IFS='|' read -r pub manifest message; do
  run 1 verify-release --pub "$pub" "$manifest"
  expect_in "$err" "$message"
done <<'CASES'
release.pub|expired.txt|expired.txt: expired on 2020-01-01T00:00:00Z
other.pub|m.txt|m.txt: bad signature
release.pub|long.txt|long.txt: malformed: longer than 120000 bytes
release.pub|no-such.txt|no-such.txt: cannot be read
release.key|m.txt|release.key: not a PEM public key
p384.pub|m.txt|p384.pub: not a P-256 (prime256v1) key
no-such.pub|m.txt|no-such.pub: cannot be opened
CASES

# --- and a release directory that is not the signed one
cp -r rel moved
printf 'game_version = 8\nupdater_version = 1100\n' >moved/release.conf
# Flipped, never overwritten: a fixed byte would match what is there once in 256 runs.
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(100); b = f.read(1)[0]; f.seek(100); f.write(bytes([b ^ 0xFF]))' \
  moved/UpdaterNew.exe
cmp -s rel/UpdaterNew.exe moved/UpdaterNew.exe && fail "UpdaterNew.exe was not changed"
head -c 10 /dev/urandom >>moved/Velgrim_patch.rxpack
run 1 verify-release --pub release.pub m.txt moved
expect_in "$err" "moved does not match m.txt: game_version 8 here, 7 in the manifest"
expect_in "$err" "moved does not match m.txt: Velgrim_patch.rxpack: $(stat -c %s moved/Velgrim_patch.rxpack) bytes here"
expect_in "$err" "moved does not match m.txt: UpdaterNew.exe: SHA-256 differs from the manifest's"
run 1 verify-release --pub release.pub m.txt no-such-dir
expect_in "$err" "no-such-dir: not a directory"

if [ -z "${VELGRIM_EXE:-}" ]; then
  # --- update-server --manifest: a match at start, a warning after a reload that differs
  server_log="$log/server.log"
  setsid timeout --signal=TERM 120 "$server" --listen 127.0.0.12 --port 0 --manifest m.txt moved \
    </dev/null >/dev/null 2>"$server_log" &
  server_pid=$!
  # wait_log PATTERN: bounded wait for a line in the server's log.
  wait_log() {
    local tries=0
    until grep -qF -- "$1" "$server_log"; do
      tries=$((tries + 1))
      [ $tries -gt 200 ] && { fail "the server log lacks '$1': $(cat "$server_log")"; return 1; }
      sleep 0.05
    done
  }
  wait_log "update-server: warning: moved does not match manifest m.txt: game_version 8 here, 7 in the manifest"
  wait_log "update-server: warning: moved does not match manifest m.txt: UpdaterNew.exe: SHA-256 differs"
  wait_log "listening on 127.0.0.12:"
  rm -rf moved && cp -r rel moved
  kill -HUP "$server_pid"
  wait_log "update-server: moved matches manifest m.txt"
  wait_log "update-server: reloaded moved"
  kill "$server_pid"; wait "$server_pid" 2>/dev/null; server_pid=""
  "$server" --manifest 2>"$log/usage" >/dev/null
  grep -qF -- "--manifest needs a value" "$log/usage" || fail "update-server --manifest without a file: $(cat "$log/usage")"
  "$server" --help | grep -qF -- "--manifest FILE" || fail "update-server --help lacks --manifest"

  # --- the build's key: the raw point of the PEM key, as openssl prints it
  key_script="$VELGRIM_SOURCE_DIR/cmake/ReleaseKey.cmake"
  cmake -DKEY=release.pub -DOUT="$work/run/key/velgrim_release_key.h" -P "$key_script" >"$log/cmake" 2>&1 \
    || fail "ReleaseKey.cmake failed: $(cat "$log/cmake")"
  point=$(openssl ec -pubin -in release.pub -text -noout 2>/dev/null | sed -n '/^pub:/,/^ASN1/p' | tr -d ' :\n' \
    | sed 's/^pub//; s/ASN1.*//; s/^04//')
  bytes=$(sed -n 's/^#define VELGRIM_RELEASE_KEY_BYTES //p' key/velgrim_release_key.h | sed 's/0x//g; s/, //g')
  [ ${#point} -eq 128 ] && [ "$bytes" = "$point" ] || fail "embedded key $bytes is not the point $point"
  expect_in key/velgrim_release_key.h "#define VELGRIM_HAS_RELEASE_KEY 1"
  expect_in key/velgrim_release_key.h '#define VELGRIM_MANIFEST_PATH "/velgrim_release.txt"'
  expect_in key/velgrim_release_key.h '#define VELGRIM_MANIFEST2_PATH "/velgrim_release2.txt"'
  cmake -DKEY= -DMANIFEST_PATH=/signed/release.txt -DMANIFEST2_PATH=/signed/release2.txt \
    -DOUT="$work/run/key/none.h" -P "$key_script" >/dev/null 2>&1
  expect_in key/none.h "#define VELGRIM_HAS_RELEASE_KEY 0"
  expect_in key/none.h '#define VELGRIM_MANIFEST_PATH "/signed/release.txt"'
  expect_in key/none.h '#define VELGRIM_MANIFEST2_PATH "/signed/release2.txt"'
  while IFS='|' read -r key path path2 message; do
    cmake -DKEY="$key" -DMANIFEST_PATH="$path" -DMANIFEST2_PATH="$path2" -DOUT="$work/run/key/bad.h" \
      -P "$key_script" >"$log/cmake" 2>&1 && fail "ReleaseKey.cmake accepted $key $path $path2"
    tr '\n' ' ' <"$log/cmake" | tr -s ' ' >"$log/cmake.flat"
    expect_in "$log/cmake.flat" "$message"
  done <<'CASES'
release.key|/velgrim_release.txt|/velgrim_release2.txt|release.key is not a PEM EC public key (make one with: openssl ec -in release.key -pubout
p384.pub|/velgrim_release.txt|/velgrim_release2.txt|p384.pub is not a P-256 (prime256v1) public key
no-such.pub|/velgrim_release.txt|/velgrim_release2.txt|no-such.pub is not a file
release.pub|velgrim_release.txt|/velgrim_release2.txt|VELGRIM_MANIFEST_PATH must start with '/'
release.pub|/velgrim release.txt|/velgrim_release2.txt|VELGRIM_MANIFEST_PATH must start with '/'
release.pub|/velgrim_release.txt|velgrim_release2.txt|VELGRIM_MANIFEST2_PATH must start with '/'
CASES
  [ -e key/bad.h ] && fail "ReleaseKey.cmake wrote a header after refusing"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "release signing: all checks passed"
