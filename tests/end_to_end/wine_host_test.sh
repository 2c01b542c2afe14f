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

WINEPREFIX="$win32/wineprefix" wineserver -k 2>/dev/null || true
echo "windows host under wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
