# Sourced by the end-to-end scripts that drive rxpack from the command line: a work
# directory of their own, failure counting, and a runner that keeps what rxpack printed.
#
#   rxpack=... ; . rxpack_cli_checks.sh ; run 0 list p.rxpack ; expect_in "$out" "..."
# Sets: work (removed at exit unless the script sets its own trap), log, out, err, failures.
work=$(mktemp -d)
log="$work/log"
mkdir -p "$log" "$work/run"
cd "$work/run" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run EXPECTED_STATUS args...: runs rxpack, keeps stdout/stderr (without CRs) in $out/$err.
out="$log/stdout" err="$log/stderr"
# Now and then wine64 ends a program at its start with status 1 and not a word (rxpack
# never fails without saying why): such a run is made once more, and said.
run() {
  local expected=$1; shift
  local attempt status
  for attempt in 1 2; do
    ${VELGRIM_RUN:+"$VELGRIM_RUN"} "$rxpack" "$@" >"$out.raw" 2>"$err.raw" </dev/null
    status=$?
    [ -n "${VELGRIM_RUN:-}" ] && [ "$status" -eq 1 ] && [ "$attempt" -eq 1 ] &&
      [ ! -s "$out.raw" ] && [ ! -s "$err.raw" ] || break
    echo "wine64 ended rxpack $* at its start (status 1, no output): run once more"
  done
  tr -d '\r' <"$out.raw" >"$out"; tr -d '\r' <"$err.raw" >"$err"
  [ "$status" -eq "$expected" ] || fail "rxpack $* exited $status, expected $expected (stderr: $(cat "$err"))"
}
expect_in() { grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks '$2': $(cat "$1")"; }
