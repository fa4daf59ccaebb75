#!/usr/bin/env bash
# Can this machine execute 32-bit programs? Some kernels refuse every one of them ("Exec
# format error"), and then Wine's 32-bit side, which runs the i686 launcher, cannot start.
# Exit 0: it can. Exit 1: it cannot; one line on stdout says why (the loader's own error).
# Exit 2: the question could not be asked (the 32-bit loader is not installed): a broken
# install, never a reason to skip, unless the install step could not get it from the
# mirror and left its marker saying so.
# VELGRIM_ASSUME_NO_32BIT=1 answers "cannot", so that a machine that can checks that path.
set -u
loader=${VELGRIM_WINE32_LOADER:-/usr/lib/wine/wine}
if [ "${VELGRIM_ASSUME_NO_32BIT:-}" = 1 ]; then
  echo "VELGRIM_ASSUME_NO_32BIT=1 is set"
  exit 1
fi
if [ ! -e "$loader" ]; then
  # scripts/install-deps.sh leaves this marker when the mirror could not provide it.
  if [ -z "${VELGRIM_WINE32_LOADER:-}" ] && [ -s /var/tmp/velgrim-no-wine32 ]; then
    head -n 1 /var/tmp/velgrim-no-wine32
    exit 1
  fi
  echo "the 32-bit Wine loader $loader is not installed (package wine32:i386)" >&2
  exit 2
fi
out=$("$loader" --version 2>&1 </dev/null)
status=$?
[ $status -eq 0 ] && exit 0
# Only the kernel's refusal counts; a loader that starts and fails is a failure to see.
case "$out" in
  *"Exec format error"*|*"cannot execute binary file"*)
    # bash prefixes its own name and line: keep the loader's words.
    why=$(printf '%s' "$out" | tr '\n' ' ' | sed -e "s|^.*$loader: ||" -e 's/ *$//')
    echo "$loader --version: $why"
    exit 1 ;;
esac
echo "$loader --version failed with status $status: $out" >&2
exit 2
