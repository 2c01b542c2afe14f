#!/usr/bin/env bash
# The LV2 plug-in UI under a private Xvfb.
#   hosts:  our lilv host (ui_host) runs every behaviour with both plug-ins and
#           keeps pictures of each page at scale 1 and 2 in WORK_DIR; then jalv
#           (with a private jackd on the dummy backend) opens the UI of each
#           plug-in, and a picture of its window is kept too.
#   cycles: the AddressSanitizer host opens and closes the sanitized UI 200
#           times while audio runs (leaks, crashes and X errors fail).
#   traces: the ThreadSanitizer host carries the limiter's traces from the
#           audio thread to the UI for three seconds (a race fails).
# usage: ui_test.sh hosts|cycles|traces BIN_DIR LV2_DIR WORK_DIR [ASAN_UI_BINARY]
set -u
mode=$1 bin=$2 lv2dir=$3 work=$4 asan_ui=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" || exit 2
cd "$work" || exit 2
export LV2_PATH="$lv2dir:/usr/lib/lv2"
# A HOME of our own: the UI lists the user presets found in $HOME/.lv2.
mkdir -p "$work/home" && export HOME="$work/home"
failed=0
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
    wait 2> /dev/null
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and tells it on fd 3.
Xvfb -displayfd 3 -screen 0 2800x1000x24 -nolisten tcp 3> display.txt 2> xvfb.log &
pids+=($!)
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "FAIL Xvfb did not start: $(cat xvfb.log)"; exit 1; }
export DISPLAY=":$(head -1 display.txt)"
echo "display $DISPLAY"

run() {  # NAME COMMAND...
    local name=$1
    shift
    if "$@" > "$name.log" 2>&1; then
        sed 's/^/    /' "$name.log"
        echo "ok   $name"
    else
        sed 's/^/    /' "$name.log"
        echo "FAIL $name"
        failed=$((failed + 1))
    fi
}

if [ "$mode" = cycles ]; then
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
    run open_close_200 "$bin/ui_host_asan" cycles 200 --ui-binary "$asan_ui"
    exit $((failed == 0 ? 0 : 1))
fi

if [ "$mode" = traces ]; then
    export TSAN_OPTIONS=halt_on_error=1
    run traces_3s "$bin/ui_host_tsan" traces 3
    exit $((failed == 0 ? 0 : 1))
fi

run scenario "$bin/ui_host" scenario "$work"
run pictures_at_scale_2 "$bin/ui_host" scenario "$work" --scale 2

# jalv: a private jackd on the dummy backend, then each plug-in with its UI.
export JACK_DEFAULT_SERVER="redozer-ui-$$" JACK_NO_AUDIO_RESERVATION=1
jackd --no-realtime -d dummy -r 44100 -p 256 > jackd.log 2>&1 &
pids+=($!)
sleep 1
for uri in urn:dsp-redozer:stereo urn:dsp-redozer:mono; do
    name=jalv-${uri##*:}
    jalv.gtk3 "$uri" > "$name.out" 2> "$name.err" &
    jalv=$!
    pids+=($jalv)
    for _ in $(seq 100); do grep -q '^UI:' "$name.err" && break; sleep 0.1; done
    sleep 2
    import -window root "$name.png" 2>> "$name.err"
    alive=yes
    kill -0 "$jalv" 2> /dev/null || alive=no
    kill "$jalv" 2> /dev/null
    wait "$jalv" 2> /dev/null
    if grep -q '^UI: *urn:dsp-redozer:ui' "$name.err" && [ $alive = yes ] &&
        ! grep -qi 'error' "$name.err" && [ -s "$name.png" ] &&
        [ "$(convert "$name.png" -format %k info:)" -gt 20 ]; then
        echo "ok   $name shows urn:dsp-redozer:ui ($work/$name.png)"
    else
        echo "FAIL $name: $(cat "$name.err")"
        failed=$((failed + 1))
    fi
done

echo "pictures: $(ls "$work"/*.png | wc -l) in $work"
exit $((failed == 0 ? 0 : 1))
