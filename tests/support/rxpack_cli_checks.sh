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
run() {
  local expected=$1; shift
  ${VELGRIM_RUN:+"$VELGRIM_RUN"} "$rxpack" "$@" >"$out.raw" 2>"$err.raw" </dev/null
  local status=$?
  tr -d '\r' <"$out.raw" >"$out"; tr -d '\r' <"$err.raw" >"$err"
  [ "$status" -eq "$expected" ] || fail "rxpack $* exited $status, expected $expected (stderr: $(cat "$err"))"
}
expect_in() { grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks '$2': $(cat "$1")"; }
