#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -eu
packages=(
  build-essential cmake googletest clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 xvfb xauth xdotool imagemagick python3 python3-pil fonts-wqy-zenhei fonts-liberation
  nginx curl procps python3-prometheus-client
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
if [ ${#missing[@]} -ne 0 ] || [ $added_i386 -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
# zstd's source for the mingw builds, in a cache outside the repository (once).
bash "$(dirname "$0")/fetch-zstd-source.sh"
