#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's private prefix and a
# virtual display: scripts/wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# The prefix lives in BUILD_DIR/wineprefix and is created once, under a lock,
# so that tests running in parallel share it safely.
#
# Wine's 32-bit loader needs a kernel that runs 32-bit programs; some virtual
# machines' kernels have no IA-32 emulation. There a 64-bit program runs under
# the 64-bit loader, and a 32-bit one is reported as skipped (exit 77).
set -euo pipefail
build_dir=$1
shift
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$(dirname "$0")/wine-loader.sh"
if ! loader=$(wine_loader_for "$1"); then
  echo "skipped: $1 is a 32-bit program and this kernel cannot run 32-bit programs (no IA-32 emulation), so 32-bit Wine cannot start" >&2
  exit 77
fi
[ "$loader" = wine ] || export WINELOADER="$loader"
mkdir -p "$build_dir"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.redozer-ready" ]; then
    "$loader" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    touch "$WINEPREFIX/.redozer-ready"
  fi
) 9>"$build_dir/wineprefix.lock"
exec xvfb-run -a -s '-screen 0 1024x768x24' "$loader" "$@"
