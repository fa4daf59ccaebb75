#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -eu
packages=(
  build-essential cmake googletest clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 xvfb xauth xdotool imagemagick python3 python3-pil fonts-wqy-zenhei fonts-liberation
  nginx curl procps python3-prometheus-client
  # release signing (libcrypto, the openssl command); Wine's CNG needs gnutls for ECDSA
  libssl-dev openssl libgnutls30
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
