#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -eu
packages=(
  build-essential cmake googletest clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 xvfb xauth xdotool imagemagick python3 python3-pil fonts-wqy-zenhei fonts-liberation
  nginx curl procps python3-prometheus-client
  # mirror downloads (libcurl) and the mirror tests' edge cache
  libcurl4-openssl-dev varnish
  # the fleet's install test: systemd-analyze, systemd-sysusers and systemd-tmpfiles; rsync
  systemd rsync
  # release signing (libcrypto, the openssl command); Wine's CNG needs gnutls for ECDSA
  libssl-dev openssl libgnutls30
  # compressed package entries: libzstd (Linux); the Windows builds compile Debian's zstd
  # source, fetched below (dpkg-source unpacks it)
  libzstd-dev dpkg-dev
  # rxpack's deltas: the suffix sort (Linux only)
  libdivsufsort-dev pkg-config
  # Authenticode signing of the Windows programs (scripts/sign-executable.sh)
  osslsigncode
  # Wine's 32-bit side, which runs the i686 programs (architecture i386, added below),
  # with the same X extensions, and gnutls for CNG, as the 64-bit side has
  wine32:i386 libgnutls30:i386 libxrender1:i386 libxrandr2:i386 libxcursor1:i386 libxi6:i386
  libxcomposite1:i386 libxinerama1:i386 libxfixes3:i386
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# wine32 comes from the i386 architecture; the package lists need it before the install.
added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  added_i386=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# zstd's source for the mingw builds, in a cache outside the repository (once).
fetch_zstd_source() { bash "$(dirname "$0")/fetch-zstd-source.sh"; }
if [ ${#missing[@]} -eq 0 ] && [ $added_i386 -eq 0 ]; then
  fetch_zstd_source
  exit 0
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index ("File has unexpected size"); it passes a little
# later. The install below then says plainly whether anything is really missing.
for wait in 10 30 0; do
  $sudo apt-get update && break
  [ "$wait" -eq 0 ] && { echo "apt-get update kept failing; installing from the lists it has" >&2; break; }
  echo "apt-get update failed; again in $wait s" >&2
  sleep "$wait"
done
# Wine's 32-bit side comes from the i386 lists, which a mirror may fail to serve whole. The
# rest must install; when only the 32-bit side cannot, the marker says why, and the i686
# runs are skipped with that reason (scripts/probe-32bit.sh) instead of failing every test.
main=(); i386=()
for p in "${missing[@]}"; do
  case "$p" in *:i386) i386+=("$p") ;; *) main+=("$p") ;; esac
done
marker=/var/tmp/velgrim-no-wine32
$sudo rm -f "$marker"
[ ${#main[@]} -eq 0 ] || $sudo apt-get install -y --no-install-recommends "${main[@]}" || exit 1
if [ ${#i386[@]} -ne 0 ] && ! $sudo apt-get install -y --no-install-recommends "${i386[@]}"; then
  echo "the package mirror could not install Wine's 32-bit side (${i386[*]})" | $sudo tee "$marker" >&2
fi
fetch_zstd_source
exit 0
