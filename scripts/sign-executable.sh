#!/usr/bin/env bash
# Signs Windows programs (Updater.exe, and so the UpdaterNew.exe made from it) with the
# studio's code-signing certificate: Authenticode, SHA-256, by Debian's osslsigncode.
#
#   sign-executable.sh --pkcs12 FILE [--pass-file FILE] [options] EXE...
#   sign-executable.sh --pkcs11-module SO (--pkcs11-cert ID | --certs FILE) --key ID
#                      [--pkcs11-engine SO] [--pass-file FILE] [options] EXE...
#
# options:
#   --timestamp URL   an RFC 3161 time-stamping service (repeat for fallbacks); with it the
#                     signature stays valid after the certificate expires
#   --name TEXT       the description Windows shows in its prompts ("Velgrim Updater")
#   --url URL         the studio's web address shown with it
#
# Each EXE is signed in place: the signed copy is written beside it and moved over it only
# once osslsigncode succeeded, so a failure (a wrong password, a time-stamping service that
# does not answer) leaves the program as it was. Exit 0 when all were signed, 1 when one
# failed, 2 on bad arguments.
set -u

usage() {
  sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

key_args=()
other_args=()
pass_file=""
name="Velgrim Updater"
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --pkcs12|--pkcs11-module|--pkcs11-cert|--pkcs11-engine|--certs|--key|--pass-file|--timestamp|--name|--url)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "sign-executable: $1 needs a value" >&2; usage; }
      case "$1" in
        --pkcs12) key_args+=(-pkcs12 "$2") ;;
        --pkcs11-module) key_args+=(-pkcs11module "$2") ;;
        --pkcs11-cert) key_args+=(-pkcs11cert "$2") ;;
        --pkcs11-engine) key_args+=(-pkcs11engine "$2") ;;
        --certs) key_args+=(-certs "$2") ;;
        --key) key_args+=(-key "$2") ;;
        --pass-file) pass_file=$2 ;;
        --timestamp) other_args+=(-ts "$2") ;;
        --name) name=$2 ;;
        --url) other_args+=(-i "$2") ;;
      esac
      shift 2
      ;;
    -h|--help) usage ;;
    -*) echo "sign-executable: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
  esac
done
[ ${#key_args[@]} -gt 0 ] || { echo "sign-executable: give --pkcs12 or --pkcs11-module" >&2; usage; }
[ ${#files[@]} -gt 0 ] || { echo "sign-executable: no program to sign" >&2; usage; }
command -v osslsigncode >/dev/null || { echo "sign-executable: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }
if [ -n "$pass_file" ]; then
  [ -r "$pass_file" ] || { echo "sign-executable: cannot read $pass_file" >&2; exit 1; }
  # Read from the file: a password on the command line would show in the process list.
  key_args+=(-readpass "$pass_file")
fi

status=0
for exe in "${files[@]}"; do
  if [ ! -f "$exe" ]; then
    echo "sign-executable: $exe: no such file" >&2
    status=1
    continue
  fi
  signed="$exe.signed"
  rm -f "$signed"
  if osslsigncode sign "${key_args[@]}" -h sha256 -n "$name" "${other_args[@]}" -in "$exe" -out "$signed" \
       </dev/null >"$signed.log" 2>&1 && [ -s "$signed" ] && mv -f "$signed" "$exe"; then
    echo "signed: $exe"
  else
    echo "sign-executable: $exe was not signed (left as it was):" >&2
    cat "$signed.log" >&2
    rm -f "$signed"
    status=1
  fi
  rm -f "$signed.log"
done
exit $status
