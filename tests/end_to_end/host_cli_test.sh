#!/usr/bin/env bash
# dsphost end to end on Linux: results, summary, and every error path.
# Usage: host_cli_test.sh BIN_DIR WAV_TOOL WORK_DIR
set -u
bin_dir=$1 wav_tool=$2 work=$3/host-cli
fakes=$3
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile"
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile"
host="$work/bin/dsphost"
source "$(dirname "$0")/checks.sh"

absent() { [ ! -e "$1" ] || { echo "  $1 exists"; return 1; }; }
no_partial() { ! ls "$work"/*.partial >/dev/null 2>&1 || { echo "  a .partial file was left"; return 1; }; }

"$wav_tool" make "$work/in.wav" 44100 2 100000
"$wav_tool" make "$work/mono.wav" 22050 1 30000
"$wav_tool" make "$work/fast.wav" 192000 2 20000

check "help" runs 0 "Usage: dsphost" --help
check "no arguments" runs 2 "expected an input and an output" 
check "bad block size" runs 2 "--block takes" --block 0 "$work/in.wav" "$work/x.wav"
check "unknown option" runs 2 "unknown option" --frobnicate "$work/in.wav" "$work/x.wav"

check "processes a file" runs 0 "100000 frames" "$work/in.wav" "$work/out.wav"
check "summary line" runs 0 "peak in -4.29 dBFS, out .* dBFS; [0-9]* output samples at full scale" \
  "$work/in.wav" "$work/out2.wav"
check "same frame count" test "$("$wav_tool" frames "$work/out.wav")" = 100000
check "the plug-in changed the audio" bash -c "! '$wav_tool' compare '$work/in.wav' '$work/out.wav' 2>/dev/null"
check "repeatable" "$wav_tool" compare "$work/out.wav" "$work/out2.wav"
check "mono" runs 0 "30000 frames" "$work/mono.wav" "$work/mono-out.wav"
check "mono frame count" test "$("$wav_tool" frames "$work/mono-out.wav")" = 30000
check "rates above 96000 Hz pass unchanged" runs 0 "20000 frames" "$work/fast.wav" "$work/fast-out.wav"
check "unchanged samples" "$wav_tool" compare "$work/fast.wav" "$work/fast-out.wav"
check "other block sizes" runs 0 "100000 frames" --block 4096 "$work/in.wav" "$work/big.wav"

echo keep > "$work/kept.wav"
check "missing input" runs 1 "cannot read" "$work/missing.wav" "$work/kept.wav"
check "output kept after a failure" test "$(cat "$work/kept.wav")" = keep
check "unreadable input" runs 1 "cannot read" "$work/bin/dsphost" "$work/x.wav"
check "nothing written" absent "$work/x.wav"
check "unwritable output" runs 1 "cannot write" "$work/in.wav" "$work/no/such/folder/out.wav"
mkdir -p "$work/a-folder.wav"
check "output is a folder" runs 1 "cannot move the result" "$work/in.wav" "$work/a-folder.wav"
check "no partial file" no_partial

# A file size limit makes the writes fail: with no room even for the header the
# output cannot be created; with a little room the stream breaks off midway.
limited() {  # limited KIB PATTERN OUTPUT : dsphost under a file size limit
  local out; out=$( (trap '' XFSZ; ulimit -f "$1"; "$host" -q "$work/in.wav" "$3") 2>&1 ); local got=$?
  [ "$got" -eq 1 ] || { echo "  exit $got, expected 1: $out"; return 1; }
  grep -q -- "$2" <<<"$out" || { echo "  no '$2' in: $out"; return 1; }
}
check "no room for the header" limited 0 "cannot write" "$work/full.wav"
check "no partial file after a failed start" no_partial
check "no room for the stream" limited 40 "writing .*full.wav failed" "$work/full.wav"
check "no partial file after a broken stream" no_partial
check "nothing written to a full disk" absent "$work/full.wav"

# More than two channels: refused before anything is written.
"$wav_tool" make "$work/wide.wav" 44100 3 20
check "three channels" runs 1 "has 3 channels; only mono and stereo" "$work/wide.wav" "$work/wide-out.wav"
check "nothing written for three channels" absent "$work/wide-out.wav"

# Interrupted while the input still streams in through a pipe: the partial
# output goes with the process.
interrupted() {
  rm -f "$work/pipe.wav" && mkfifo "$work/pipe.wav" || return 1
  "$host" -q "$work/pipe.wav" "$work/cut.wav" & local pid=$!
  exec 9>"$work/pipe.wav"
  head -c 100044 "$work/in.wav" >&9  # the header and a quarter of the data
  local i
  for i in $(seq 100); do [ -s "$work/cut.wav.partial" ] && break; sleep 0.1; done
  [ -s "$work/cut.wav.partial" ] || { echo "  the run never started writing"; exec 9>&-; kill "$pid"; return 1; }
  kill -TERM "$pid"
  wait "$pid"; local got=$?
  exec 9>&-
  [ "$got" -eq 143 ] || { echo "  exit $got, expected 143"; return 1; }
}
check "interrupted by a signal" interrupted
check "no partial file after an interruption" no_partial
check "nothing written when interrupted" absent "$work/cut.wav"

check "not a library" runs 1 "" --plugin "$work/in.wav" "$work/in.wav" "$work/x.wav"
check "no export" runs 1 "does not export winampDSPGetHeader2" --plugin "$fakes/fake_no_export.so" "$work/in.wav" "$work/x.wav"
check "no module 0" runs 1 "offers no module 0" --plugin "$fakes/fake_null_module.so" "$work/in.wav" "$work/x.wav"
check "wrong version" runs 1 "header version 16, expected 32" --plugin "$fakes/fake_bad_version.so" "$work/in.wav" "$work/x.wav"
check "wrong frame count" runs 1 "returned 575 frames for a block of 576" --plugin "$fakes/fake_short_count.so" "$work/in.wav" "$work/kept.wav"
check "output kept after a bad plug-in" test "$(cat "$work/kept.wav")" = keep
check "still no partial file" no_partial
check "nothing half-written" absent "$work/x.wav"

finish "host command line"
