#!/usr/bin/env bash
# The LV2 plug-in in players' audio paths: a GStreamer pipeline (its lv2
# element registers the stereo plug-in through its port groups) and mpv's
# lavfi audio filter, each running the multiband engine over real 16-bit
# material. Frame i + 576 of their output must be frame i of dsphost --block
# 576 with the same settings at full resolution (--bits float, reduced to 16
# bits as the hosts do), within one step.
#
# usage: players_test.sh BIN_DIR LV2_DIR LADSPA_DIR TOOLS_DIR WORK_DIR
set -u
bin=$1 lv2dir=$2 tools=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
require gst-launch-1.0 gstreamer1.0-tools gst-inspect-1.0 gstreamer1.0-tools mpv mpv
rm -rf "$work" && mkdir -p "$work/home" || exit 2
cd "$work" || exit 2
export HOME="$PWD/home" XDG_CACHE_HOME="$PWD/home/cache" XDG_CONFIG_HOME="$PWD/home/config"
trap stop_started EXIT

export LV2_PATH="$lv2dir"
# A private registry: a stale one would hide changes to the bundle.
export GST_REGISTRY="$PWD/gst-registry.bin"

check() {  # NAME OUT
    local result
    if result=$("$tools/shift_compare" ref.wav "$2" 576 1 2>&1); then
        ok "$1: $result"
    else
        fail "$1: $result"
    fi
}

"$bin/make_sample" in.wav 6 > /dev/null || exit 2
mkdir -p cfg/dsp_redozer && "$tools/port_args" ini enhance=2 > cfg/dsp_redozer/dsp_redozer.ini || exit 2
XDG_CONFIG_HOME="$PWD/cfg" "$bin/dsphost" --block 576 --bits float --quiet --plugin "$bin/dsp_redozer.so" in.wav ref.wav || exit 2

# ---- GStreamer. Its lv2 element gives toggled ports the default false whatever
# the plug-in states, so the switches that are on by default (full_resolution
# among them) are set here. ----
if gst-inspect-1.0 urn-dsp-redozer-stereo > gst-inspect.txt 2> gst-inspect.err &&
    grep -q GstAudioFilter gst-inspect.txt; then
    ok "GStreamer registers the stereo plug-in as an audio filter"
else
    fail "GStreamer does not register the stereo plug-in: $(GST_DEBUG=lv2:5 gst-inspect-1.0 lv2 2>&1 | grep -i redozer | head -5)"
fi
gst-launch-1.0 -q filesrc location=in.wav ! wavparse ! audioconvert ! audio/x-raw,format=F32LE \
    ! urn-dsp-redozer-stereo enhance=2 multiband=true limiter=true full-resolution=true \
    ! audioconvert dithering=none ! audio/x-raw,format=S16LE ! wavenc ! filesink location=gst.wav \
    > gst.log 2>&1 || echo "gst-launch-1.0 failed: $(cat gst.log)"
check "GStreamer pipeline, multiband engine" gst.wav

# ---- mpv: what it plays, written by its pcm output. -------------------------
mpv --no-config --really-quiet --no-video --ao=pcm --ao-pcm-file=mpv-raw.wav --audio-format=s16 \
    --af='lavfi=[lv2=p=urn\\:dsp-redozer\\:stereo:c=enhance=2]' in.wav > mpv.log 2>&1 ||
    echo "mpv failed: $(cat mpv.log)"
check "mpv --af=lavfi=[lv2=...], multiband engine" mpv-raw.wav
finish
