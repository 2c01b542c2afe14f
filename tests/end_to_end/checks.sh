# Sourced by the end-to-end test scripts: `check NAME COMMAND...` runs one
# check and counts it; `finish LABEL` prints the tally and exits with its verdict.
passed=0 failed=0
check() {
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
finish() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
