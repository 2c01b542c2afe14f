#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's private prefix and a
# virtual display: scripts/wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# The prefix lives in BUILD_DIR/wineprefix and is created once, under a lock,
# so that tests running in parallel share it safely.
set -euo pipefail
build_dir=$1
shift
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$build_dir"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.redozer-ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    touch "$WINEPREFIX/.redozer-ready"
  fi
) 9>"$build_dir/wineprefix.lock"
exec xvfb-run -a -s '-screen 0 1024x768x24' wine "$@"
