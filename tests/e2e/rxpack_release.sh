#!/usr/bin/env bash
# rxpack release from the command line, as the README's "Shipping a release" walks it: a
# store of three versions, usage errors, both signed manifests (openssl accepts each
# signature, verify-release checks each against the served directory, every package line
# matches its file), and update-server serving DIR/serve. Signing is in the Linux build
# only: the Windows rxpack (under Wine) records and publishes unsigned.
set -u
rxpack="$VELGRIM_BUILD_DIR/tools/rxpack/rxpack${VELGRIM_EXE:-}"
signature_tool="$VELGRIM_SOURCE_DIR/tests/support/p256_signature.py"
[ -f "$rxpack" ] || { echo "no rxpack at $rxpack"; exit 1; }
. "$VELGRIM_SOURCE_DIR/tests/support/rxpack_cli_checks.sh"
trap 'rm -rf "$work"' EXIT

# --- usage
run 0 --help;  expect_in "$out" "release --store DIR --version N"
run 2 release game;                                 expect_in "$err" "release takes --store DIR --version N GAME_DIR"
run 2 release --store s --version 0 game;           expect_in "$err" "--version needs a whole number from 1"
run 2 release --store s --version 01 game;          expect_in "$err" "--version needs a whole number from 1"
run 2 release --store s --version 1 --keep x game;  expect_in "$err" "--keep needs a whole number"
run 2 release --store s --version 1 --no-expiry game; expect_in "$err" "--expires-days and --no-expiry go with --key"
run 2 release --store s --version 1 --key k game;   expect_in "$err" "release --key needs --expires-days N"
run 2 release --store s --version 1 --key k --no-expiry --expires-days 3 game; expect_in "$err" "not both"
[ -e s ] && fail "a usage error created the store"

# --- versions 1, 2 (a map added, an old one dropped), 3 (a file changed, a folder added)
mkdir -p g1/data g1/maps
printf 'cfg1\n' >g1/data/config.txt; printf 'old\n' >g1/maps/old.map; printf 'town\n' >g1/maps/town.map
cp -r g1 g2; rm g2/maps/old.map; printf 'new\n' >g2/maps/new.map
cp -r g2 g3; printf 'cfg3\n' >g3/data/config.txt; mkdir g3/sounds; printf 'wav\n' >g3/sounds/a.wav
signed=0
if [ -z "${VELGRIM_EXE:-}" ]; then
  signed=1
  openssl ecparam -name prime256v1 -genkey -noout -out release.key 2>/dev/null
  openssl ec -in release.key -pubout -out release.pub 2>/dev/null
  [ -s release.pub ] || { echo "openssl could not make the keys"; exit 1; }
  sign=(--key release.key --expires-days 30)
else
  sign=()
fi
run 0 release --store store --version 1 "${sign[@]}" g1
run 0 release --store store --version 2 "${sign[@]}" g2
run 0 release --store store --version 3 --dry-run g3
expect_in "$out" "from 1: Velgrim_patch.from-1.rxpack, 244 bytes, 2 added, 1 changed, 1 removed"
expect_in "$out" "dry run: nothing written"
[ -e store/versions/3.txt ] && fail "the dry run recorded version 3"
run 0 release --store store --version 3 "${sign[@]}" g3
expect_in "$out" "recorded in store, published as store/serve"
[ "$signed" = 1 ] && expect_in "$out" "velgrim_release.txt, velgrim_release2.txt, velgrim_release3.txt"
for f in release.conf Velgrim_patch.rxpack Velgrim_patch.full.rxpack Velgrim_patch.from-1.rxpack \
         Velgrim_patch.from-2.rxpack; do
  [ -f "store/serve/$f" ] || fail "store/serve lacks $f"
done
ls store | grep -q 'serve\.' && fail "a temporary release directory was left: $(ls store)"
run 0 check store/serve/Velgrim_patch.from-1.rxpack; expect_in "$out" "OK, 4 files"

if [ "$signed" = 1 ]; then
  for m in velgrim_release.txt velgrim_release2.txt velgrim_release3.txt; do
    manifest="store/serve/$m"
    head -n -1 "$manifest" >"$log/body"
    python3 "$signature_tool" to-der "$(tail -n 1 "$manifest" | cut -d' ' -f2)" "$log/sig.der"
    openssl dgst -sha256 -verify release.pub -signature "$log/sig.der" "$log/body" >/dev/null 2>&1 \
      || fail "openssl does not accept the signature of $m"
    run 0 verify-release --pub release.pub "$manifest" store/serve
    expect_in "$out" "store/serve matches it"
  done
  expect_in "$out" "OK, signed (format 3, 4 packages); game_version 3, updater_version 0"
  head -n 4 store/serve/velgrim_release.txt | tail -n 1 >"$log/patch"
  expect_in "$log/patch" "file 1002 Velgrim_patch.rxpack $(stat -c %s store/serve/Velgrim_patch.rxpack) "
  # Each package line names its file's size and SHA-256, in the documented order.
  line=4
  for p in cumulative full "from 1" "from 2"; do
    file=Velgrim_patch.rxpack
    [ "$p" = full ] && file=Velgrim_patch.full.rxpack
    case "$p" in from*) file="Velgrim_patch.from-${p#from }.rxpack" ;; esac
    want="package $p $(stat -c %s "store/serve/$file") $(sha256sum <"store/serve/$file" | cut -c1-64)"
    got=$(sed -n "${line}p" store/serve/velgrim_release2.txt)
    [ "$got" = "$want" ] || fail "line $line of velgrim_release2.txt: '$got', expected '$want'"
    line=$((line + 1))
  done
  # A changed package is found.
  printf 'x' >>store/serve/Velgrim_patch.from-2.rxpack
  run 1 verify-release --pub release.pub store/serve/velgrim_release2.txt store/serve
  expect_in "$err" "Velgrim_patch.from-2.rxpack: 151 bytes here, 150 in the manifest"
fi

# --- the store only grows: a refused run leaves it as it was
find store -type f | sort | xargs sha256sum >"$log/before"
run 1 release --store store --version 3 g3;  expect_in "$err" "version 3 is not above 3"
find store -type f | sort | xargs sha256sum >"$log/after"
cmp -s "$log/before" "$log/after" || fail "a refused release changed the store"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all rxpack release checks passed"
