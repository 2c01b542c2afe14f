#!/usr/bin/env bash
# The plug-in UI's costs, under a private Xvfb and jackd (dummy backend):
#  1. our own lilv host (ui_host measure): milliseconds from the UI's
#     instantiation to its first drawn frame, and the CPU the UI's calls take
#     on the host's UI thread at rest and with its meters moving;
#  2. side by side with a peer in the same real host: the CPU of jalv.gtk3
#     with the plug-in's own UI open, less that of jalv without any UI, for
#     the Audio Enhancer and x42's dpl (an X11 UI as well), first with the
#     inputs silent (at rest) and then fed by jack_metro (meters moving).
# usage: ui_bench.sh BIN_DIR LV2_DIR WORK_DIR [SECONDS]
set -u
bin=$1 lv2dir=$2 work=$3 seconds=${4:-10}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
export LV2_PATH="$lv2dir:/usr/lib/lv2"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
    wait 2> /dev/null
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3> display.txt 2> xvfb.log &
pids+=($!)
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 display.txt)"

echo "== our host: first frame and UI-thread CPU"
"$bin/ui_host" measure "$seconds" | grep -v '^ok'

export JACK_DEFAULT_SERVER="redozer-ui-bench-$$" JACK_NO_AUDIO_RESERVATION=1
jackd --no-realtime -d dummy -r 44100 -p 256 > jackd.log 2>&1 &
pids+=($!)
sleep 1

# CPU seconds (user + system) of a process so far.
cpu() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }

# Runs HOST URI for the given seconds after a settling time; prints its CPU %.
measure() {  # HOST URI FEED
    local host=$1 uri=$2 feed=$3 name=bench$RANDOM
    # The console jalv quits at the end of its input: keep it open a while.
    if [ "$host" = jalv ]; then
        jalv -n "$name" -x "$uri" > /dev/null 2>&1 < <(sleep $((seconds + 30))) &
    else
        jalv.gtk3 --jack-name "$name" -x "$uri" > /dev/null 2>&1 < /dev/null &
    fi
    local pid=$!
    pids+=($pid)
    sleep 3
    if [ "$feed" = metro ]; then
        for port in $(jack_lsp | grep "^$name:" | grep -iE ':in' | head -2); do
            jack_connect metro:120_bpm "$port" 2> /dev/null
        done
    fi
    sleep 1
    local before after
    before=$(cpu "$pid")
    sleep "$seconds"
    after=$(cpu "$pid")
    kill "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
    awk -v a="$after" -v b="$before" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * (a - b) / s }'
}

jack_metro -b 240 -A 0.5 -f 440 -D 200 > /dev/null 2>&1 &
pids+=($!)
sleep 1

echo "== jalv.gtk3 with the plug-in's UI, less jalv without UI (% of one core, ${seconds} s each)"
printf '%-34s %10s %10s %10s\n' plug-in "no UI" "with UI" "UI"
for feed in silent metro; do
    for uri in urn:dsp-redozer:stereo http://gareus.org/oss/lv2/dpl#stereo; do
        plain=$(measure jalv "$uri" "$feed")
        ui=$(measure jalv.gtk3 "$uri" "$feed")
        printf '%-34s %10s %10s %10s\n' "$uri ($feed)" "$plain" "$ui" \
            "$(awk -v a="$ui" -v b="$plain" 'BEGIN { printf "%.2f", a - b }')"
    done
done
