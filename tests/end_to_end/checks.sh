# Sourced by the end-to-end test scripts: `check NAME COMMAND...` runs one
# check and counts it; `runs STATUS PATTERN ARGS...` runs $host and checks its exit
# status and message; `finish LABEL` prints the tally and exits with its verdict.
passed=0 failed=0
check() {
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
runs() {  # runs EXPECTED_STATUS PATTERN ARGS... : $host exits so and prints the pattern
  local status=$1 pattern=$2; shift 2
  local out; out=$("$host" "$@" 2>&1); local got=$?
  [ "$got" -eq "$status" ] || { echo "  exit $got, expected $status: $out"; return 1; }
  grep -q -- "$pattern" <<<"$out" || { echo "  no '$pattern' in: $out"; return 1; }
}
finish() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
