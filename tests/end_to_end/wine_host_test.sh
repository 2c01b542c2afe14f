#!/usr/bin/env bash
# The Windows host and the i686 DLL under Wine: the exported interface end to
# end, with the same samples as the native build (the float paths are built to
# round identically on both).
# Usage: wine_host_test.sh SOURCE_DIR WIN32_BUILD NATIVE_BIN WAV_TOOL WORK_DIR
set -u
src=$1 win32=$2 native_bin=$3 wav_tool=$4 work=$5
rm -rf "$work" && mkdir -p "$work/win" "$work/linux" "$work/profile"
cp "$win32/bin/dsphost.exe" "$win32/bin/dsp_redozer.dll" "$work/win/"
cp "$native_bin/dsphost" "$native_bin/dsp_redozer.so" "$work/linux/"
export XDG_CONFIG_HOME="$work/profile"
passed=0 failed=0
check() {
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
wine_host() { "$src/scripts/wine-run.sh" "$win32" "$work/win/dsphost.exe" "$@"; }

"$wav_tool" make "$work/in.wav" 44100 2 200000
"$wav_tool" make "$work/mono.wav" 48000 1 60000
"$wav_tool" make "$work/fast.wav" 192000 2 20000

check "windows host runs" wine_host --quiet 'Z:'"$work/in.wav" 'Z:'"$work/win-out.wav"
check "frame count" test "$("$wav_tool" frames "$work/win-out.wav" 2>/dev/null)" = 200000
"$work/linux/dsphost" --quiet "$work/in.wav" "$work/linux-out.wav"
check "same samples as the native build" "$wav_tool" compare "$work/win-out.wav" "$work/linux-out.wav"

check "windows host, mono" wine_host --quiet 'Z:'"$work/mono.wav" 'Z:'"$work/win-mono.wav"
"$work/linux/dsphost" --quiet "$work/mono.wav" "$work/linux-mono.wav"
check "mono same samples" "$wav_tool" compare "$work/win-mono.wav" "$work/linux-mono.wav"

check "windows host, above 96000 Hz" wine_host --quiet 'Z:'"$work/fast.wav" 'Z:'"$work/win-fast.wav"
check "passes unchanged" "$wav_tool" compare "$work/fast.wav" "$work/win-fast.wav"

out=$(wine_host --quiet 'Z:'"$work/missing.wav" 'Z:'"$work/x.wav" 2>&1); status=$?
check "missing input fails" test "$status" -eq 1
check "missing input message" grep -q "cannot read" <<<"$out"

# The multiband engine (enhance=2): the default strings and a four-band preset
# with input AGC, a level below 1 and the hard soft clip, stereo and mono. The
# settings file sits beside each library (the tag file zb_local.ini puts it
# there); the i686 build must give the native build's samples.
multiband_settings() {  # FOLDER MULTI1 MULTI2 LIMITER
  : > "$1/zb_local.ini"
  printf '[zobrin dsp]\nenhance=2\nenh_multi1=%s\nenh_multi2=%s\nenh_limiter=%s\n' \
    "$2" "$3" "$4" > "$1/dsp_redozer.ini"
}
multiband_case() {  # NAME INPUT MULTI1 MULTI2 LIMITER
  multiband_settings "$work/win" "$3" "$4" "$5"
  multiband_settings "$work/linux" "$3" "$4" "$5"
  check "multiband $1 under wine" wine_host --quiet 'Z:'"$2" 'Z:'"$work/win-mb-$1.wav"
  "$work/linux/dsphost" --quiet "$2" "$work/linux-mb-$1.wav"
  check "multiband $1 same samples" "$wav_tool" compare "$work/win-mb-$1.wav" "$work/linux-mb-$1.wav"
  check "multiband $1 changes the sound" bash -c "! '$wav_tool' compare '$2' '$work/linux-mb-$1.wav' >/dev/null 2>&1"
}
default1="m---f00300f03000f00000------------l020s025"
default2="----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------"
defaultL="l-s---th240re040ce300kn055ra201at025ho000"
intense1="ma--f00250f02200f05000------------l014s025"
intense2="----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030----------------"
intenseL="l-h---th260re046ce300kn040ra201at025ho000"
multiband_case default-stereo "$work/in.wav" "$default1" "$default2" "$defaultL"
multiband_case default-mono "$work/mono.wav" "$default1" "$default2" "$defaultL"
multiband_case intense-stereo "$work/in.wav" "$intense1" "$intense2" "$intenseL"
multiband_case intense-mono "$work/mono.wav" "$intense1" "$intense2" "$intenseL"
rm -f "$work"/win/zb_local.ini "$work"/win/dsp_redozer.ini "$work"/linux/zb_local.ini \
  "$work"/linux/dsp_redozer.ini

WINEPREFIX="$win32/wineprefix" wineserver -k 2>/dev/null || true
echo "windows host under wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
