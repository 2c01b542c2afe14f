#!/usr/bin/env bash
# dsphost with several inputs as one stream, settings for one run, input
# conversion, and every refusal of a set; with the real plug-in library.
# Usage: host_set_test.sh BIN_DIR WAV_TOOL WORK_DIR
set -u
bin_dir=$1 wav_tool=$2 work=$3/host-set
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile" "$work/tmp" "$work/out"
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile"
export TMPDIR="$work/tmp"   # where the private settings folders go
host="$work/bin/dsphost"
source "$(dirname "$0")/checks.sh"

same() { "$wav_tool" compare "$1" "$2"; }
differ() { ! "$wav_tool" compare "$1" "$2" 2>/dev/null; }
absent() { [ ! -e "$1" ] || { echo "  $1 exists"; return 1; }; }
empty_dir() { [ -z "$(ls -A "$1")" ] || { echo "  $1 holds: $(ls -A "$1")"; return 1; }; }
frames() { "$wav_tool" frames "$1"; }
# Index of the first frame whose samples are not all zero (16-bit WAV).
first_sound() {
  python3 - "$1" <<'EOF'
import sys, wave, array
w = wave.open(sys.argv[1]); ch = w.getnchannels()
a = array.array('h'); a.frombytes(w.readframes(w.getnframes()))
print(next((i // ch for i, v in enumerate(a) if v != 0), -1))
EOF
}

# A playlist of quiet and loud pieces; the first lasts a whole number of
# 576-frame blocks, so that the set and the joined file see the same blocks.
"$bin_dir/make_sample" "$work/music.wav" 12
sox "$work/music.wav" "$work/quiet.wav" trim 0 338688s vol 0.08
sox "$work/music.wav" "$work/loud.wav" trim 2s vol 1.0
sox "$work/music.wav" "$work/middle.wav" trim 4s vol 0.3
sox "$work/quiet.wav" "$work/loud.wav" "$work/joined.wav"

# ---- State carries from file to file --------------------------------------
for mode in 1 2; do
  rm -rf "$work/out" && mkdir "$work/out"
  check "mode $mode set" runs 0 "loud.wav: .* frames" --mode $mode -o "$work/out" "$work/quiet.wav" "$work/loud.wav"
  "$host" -q --mode $mode "$work/loud.wav" "$work/loud-alone-$mode.wav"
  "$host" -q --mode $mode "$work/quiet.wav" "$work/quiet-alone-$mode.wav"
  "$host" -q --mode $mode --delay remove "$work/joined.wav" "$work/joined-out-$mode.wav"
  "$host" -q --mode $mode "$work/joined.wav" "$work/joined-raw-$mode.wav"
  check "mode $mode: each output keeps its input's length" \
    test "$(frames "$work/out/quiet.wav") $(frames "$work/out/loud.wav")" = "338688 $(frames "$work/loud.wav")"
  check "mode $mode: the second file starts from the first one's state" \
    differ "$work/out/loud.wav" "$work/loud-alone-$mode.wav"
  sox "$work/out/quiet.wav" "$work/out/loud.wav" "$work/set-joined-$mode.wav"
  check "mode $mode: the set is the joined stream cut at the boundary" \
    same "$work/set-joined-$mode.wav" "$work/joined-out-$mode.wav"
  # With the delay kept, a set is the plug-in's own stream cut at the boundary.
  "$host" -q --mode $mode --delay keep -o "$work/out" "$work/quiet.wav" "$work/loud.wav"
  sox "$work/out/quiet.wav" "$work/out/loud.wav" "$work/set-raw-$mode.wav"
  check "mode $mode: a set with the delay kept is the raw stream cut at the boundary" \
    same "$work/set-raw-$mode.wav" "$work/joined-raw-$mode.wav"
done
# ---- A folder stands for its files ------------------------------------------
# Subfolders mirrored under the output folder, the files in the order of
# their paths as one stream; hidden files, other files and the output folder
# (here inside the input folder) left out.
lib="$work/library"
rm -rf "$lib" && mkdir -p "$lib/A/one" "$lib/B" "$lib/.cache" "$lib/done"
cp "$work/quiet.wav" "$lib/A/one/1.wav"
cp "$work/loud.wav" "$lib/B/2.wav"
cp "$work/middle.wav" "$lib/.cache/x.wav"
cp "$work/middle.wav" "$lib/done/earlier.wav"
echo notes > "$lib/B/notes.txt"
check "a folder" runs 0 "B/2.wav: .* frames" --mode 2 -o "$lib/done" "$lib"
check "its files mirrored, nothing else" \
  test "$(cd "$lib/done" && find . -type f | sort | tr '\n' ' ')" = "./A/one/1.wav ./B/2.wav ./earlier.wav "
"$host" -q --mode 2 -o "$work/out" "$work/quiet.wav" "$work/loud.wav"
check "as one stream, in the order of the paths" same "$lib/done/B/2.wav" "$work/out/loud.wav"
# A folder mixing rates: one set for each stretch of files that share one;
# the file after a change starts afresh, as if alone.
mix="$work/mixed"
rm -rf "$mix" && mkdir -p "$mix/in" "$mix/out"
cp "$work/quiet.wav" "$mix/in/1.wav"
sox "$work/middle.wav" -r 48000 "$mix/in/2.wav"
cp "$work/loud.wav" "$mix/in/3.wav"
check "a folder of mixed rates" runs 0 "played as 3 sets" --mode 1 --report "$mix/r.json" -o "$mix/out" "$mix/in"
check "every file of it written" test -s "$mix/out/1.wav" -a -s "$mix/out/2.wav" -a -s "$mix/out/3.wav"
check "a report for each set" test -s "$mix/r.json" -a -s "$mix/r-2.json" -a -s "$mix/r-3.json"
"$host" -q --mode 1 --delay remove "$work/loud.wav" "$mix/loud-alone.wav"
check "a new set starts afresh" same "$mix/out/3.wav" "$mix/loud-alone.wav"
# A pipe beside a folder is played once, not spent on finding the sets.
rm -rf "$mix/out"/*
cat "$work/middle.wav" | "$host" -q --mode 1 -o "$mix/out" /dev/stdin "$lib/B" >/dev/null 2>&1
check "a pipe beside a folder is played" test -s "$mix/out/stdin.wav" -a -s "$mix/out/2.wav"
mkdir -p "$work/nothing/sub"
check "a folder without audio" runs 1 "nothing holds no audio or video files" -o "$work/out" "$work/nothing"

rm -rf "$work/out" && mkdir "$work/out"
"$host" -q --mode 1 -o "$work/out" "$work/quiet.wav" "$work/loud.wav"
check "mode 1: the first file of a set is as if alone" same "$work/out/quiet.wav" "$work/quiet-alone-1.wav"

# An empty file in the middle of a set changes nothing around it and comes
# out empty.
sox -n -r 44100 -c 2 -b 16 "$work/empty.wav" trim 0 0
rm -rf "$work/out" "$work/out2" && mkdir "$work/out" "$work/out2"
"$host" -q --mode 2 -o "$work/out" "$work/quiet.wav" "$work/loud.wav"
check "mode 2 set with an empty file" runs 0 "empty.wav: 0 frames" --mode 2 -o "$work/out2" "$work/quiet.wav" "$work/empty.wav" "$work/loud.wav"
check "an empty file carries the delay through" same "$work/out2/loud.wav" "$work/out/loud.wav"
check "before an empty file" same "$work/out2/quiet.wav" "$work/out/quiet.wav"
check "an empty output" test "$(frames "$work/out2/empty.wav")" = 0

# The multiband engine's delay is taken out: sound starts where it starts in
# the input, not 20 ms later, and the last frames are not lost.
sox -D -n -r 44100 -c 2 -b 16 "$work/hush.wav" trim 0 1
sox -D -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 2 sine 440 vol 0.5
sox "$work/hush.wav" "$work/tone.wav" "$work/onset.wav"
onset=$(first_sound "$work/onset.wav")
"$host" -q --mode 2 --delay remove "$work/onset.wav" "$work/onset-out.wav"
out_onset=$(first_sound "$work/onset-out.wav")
check "mode 2: no delay at the onset (input $onset, output $out_onset)" \
  test "$out_onset" -ge "$onset" -a "$out_onset" -le $((onset + 4))
"$host" -q --mode 2 --delay remove --set enh_limiter=--s---th240re040ce300kn055ra201at025ho000 \
  "$work/onset.wav" "$work/onset-one-stage.wav"
out_onset=$(first_sound "$work/onset-one-stage.wav")
check "mode 2 with the limiter off: no delay either ($out_onset)" \
  test "$out_onset" -ge "$onset" -a "$out_onset" -le $((onset + 4))
check "mode 2: the tail is complete" test "$(frames "$work/onset-out.wav")" = "$(frames "$work/onset.wav")"
# A single file keeps the plug-in's own stream unless asked: 882 frames late.
check "mode 2, one file: the delay is kept by default" \
  runs 0 "lags the input by the engine's delay of 882 frames" --mode 2 "$work/onset.wav" "$work/onset-raw.wav"
out_onset=$(first_sound "$work/onset-raw.wav")
check "mode 2, one file: sound starts 882 frames late ($out_onset)" \
  test "$out_onset" -ge $((onset + 882)) -a "$out_onset" -le $((onset + 886))
check "bad --delay" runs 2 "--delay takes keep or remove" --delay some "$work/onset.wav" "$work/x.wav"

# A set processed at once in mode 2 comes out evener than it went in.
rm -rf "$work/out" && mkdir "$work/out"
"$host" -q --mode 2 --report "$work/even.json" -o "$work/out" "$work/quiet.wav" "$work/loud.wav" "$work/middle.wav"
check "mode 2 evens out the set" python3 - "$work/even.json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))
b, a = r["spread_before_lu"], r["spread_after_lu"]
print("  spread before %.2f LU, after %.2f LU" % (b, a))
sys.exit(0 if b > 10 and a < b / 2 else 1)
EOF

# FLAC output holds the same samples as WAV output.
rm -rf "$work/out" && mkdir "$work/out"
check "flac output" runs 0 "middle.flac" --format flac -o "$work/out" "$work/middle.wav"
"$host" -q "$work/middle.wav" "$work/middle-out.wav"
check "flac holds the same samples" same "$work/out/middle.flac" "$work/middle-out.wav"
check "flac is FLAC" bash -c "head -c 4 '$work/out/middle.flac' | grep -q fLaC"
"$host" -q "$work/middle.wav" "$work/named.FLAC"
check "a single output named .flac is FLAC" bash -c "head -c 4 '$work/named.FLAC' | grep -q fLaC"
check "with the same samples" same "$work/named.FLAC" "$work/middle-out.wav"
"$host" -q --format wav "$work/middle.wav" "$work/forced.flac"
check "--format wav wins over the name" bash -c "head -c 4 '$work/forced.flac' | grep -q RIFF"

# ---- Settings for one run -------------------------------------------------
"$host" -q "$work/middle.wav" "$work/default.wav"
"$host" -q --mode 0 "$work/middle.wav" "$work/mode0.wav"
check "--mode 0 passes the audio unchanged" same "$work/mode0.wav" "$work/middle.wav"
"$host" -q --set enhance=0 "$work/middle.wav" "$work/set0.wav"
check "--set enhance=0 is --mode 0" same "$work/set0.wav" "$work/middle.wav"
"$host" -q --set amp_max=90 "$work/middle.wav" "$work/amp90.wav"
check "--set amp_max changes the result" differ "$work/amp90.wav" "$work/default.wav"
"$host" -q --preset "AC Radio" "$work/middle.wav" "$work/acradio.wav"
"$host" -q --set stereo_width=40 --set hpcutoff=35 --set amp_max=78 --set amp_up=109 --set amp_dwn=80 \
  --set threshold=58 --set eq=50,60,40 --set eq_f=100,1000,8000 --set enhance=1 --set eq_enable=1 \
  "$work/middle.wav" "$work/acradio-keys.wav"
check "a preset is its settings" same "$work/acradio.wav" "$work/acradio-keys.wav"
check "a preset changes the result" differ "$work/acradio.wav" "$work/default.wav"
"$host" -q --preset "  [ ac RADIO ]" "$work/middle.wav" "$work/acradio2.wav"
check "preset names ignore case, brackets and blanks" same "$work/acradio2.wav" "$work/acradio.wav"
"$host" -q --preset "4 band intense 1" "$work/middle.wav" "$work/intense.wav"
"$host" -q --mode 2 --set enh_multi1=ma--f00250f02200f05000------------l014s025 \
  --set enh_multi2=----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030---------------- \
  --set enh_limiter=l-h---th260re046ce300kn040ra201at025ho000 "$work/middle.wav" "$work/intense-keys.wav"
check "a multiband preset is its strings in mode 2" same "$work/intense.wav" "$work/intense-keys.wav"
"$host" -q --mode 2 "$work/middle.wav" "$work/mode2.wav"
"$host" -q --preset default "$work/middle.wav" "$work/mb-default.wav"
check "the default strings are a preset" same "$work/mb-default.wav" "$work/mode2.wav"
"$host" -q --preset Normalize --mode 2 "$work/middle.wav" "$work/later.wav"
check "later settings win" same "$work/later.wav" "$work/mode2.wav"
check "no private folder is left" empty_dir "$work/tmp"

# The user's own file: read, never written; its lines come first.
mkdir -p "$work/profile/dsp_redozer"
user_ini="$work/profile/dsp_redozer/dsp_redozer.ini"
printf '[zobrin dsp]\nenhance=2\namp_max=30\n' > "$user_ini"
touch -d '2020-01-02 03:04:05.123456789' "$user_ini"
before_stat=$(stat -c '%s %y' "$user_ini"); before_sum=$(md5sum < "$user_ini")
"$host" -q "$work/middle.wav" "$work/user.wav"
check "the user's settings apply" same "$work/user.wav" "$work/mode2.wav"
"$host" -q --mode 1 "$work/middle.wav" "$work/user-mode1.wav"
"$host" -q --mode 1 --set amp_max=30 "$work/middle.wav" "$work/mode1-amp30.wav"
check "overrides come after the user's lines" same "$work/user-mode1.wav" "$work/mode1-amp30.wav"
check "the user's file keeps its bytes and time" \
  test "$(stat -c '%s %y' "$user_ini") $(md5sum < "$user_ini")" = "$before_stat $before_sum"
# A last line without line end loses its last character when the plug-in
# reads it (enhance=21 reads as 2); overrides must not change that reading.
printf '[zobrin dsp]\nenhance=21' > "$user_ini"
"$host" -q --set amp_max=56 "$work/middle.wav" "$work/unended.wav"
check "a last line without line end reads as before" same "$work/unended.wav" "$work/mode2.wav"
rm -rf "$work/profile/dsp_redozer"

# Wider samples go through the full-resolution path and keep their
# resolution; a 16-bit result is dithered (or rounded) only at the end.
sox "$work/middle.wav" -b 24 "$work/middle24.wav"
check "24-bit input with dither" runs 0 "WAV 24-bit processed at full resolution, the result reduced to 16-bit with TPDF dither" "$work/middle24.wav" "$work/m24.wav"
check "dither changes the samples" differ "$work/m24.wav" "$work/default.wav"
check "24-bit input without dither" runs 0 "by rounding, without dither" --no-dither "$work/middle24.wav" "$work/m24n.wav"
# 16-bit values in wider containers: the full-resolution result of the 16-bit
# file itself (--bits 24 takes that path), to the byte, for every container.
sox "$work/middle.wav" -b 32 "$work/middle32.wav"
sox "$work/middle.wav" -e floating-point -b 32 "$work/middlef.wav"
"$host" -q --bits 24 "$work/middle.wav" "$work/full24.wav"
for w in 24 32 f; do
  "$host" -q --bits 24 "$work/middle$w.wav" "$work/full24-$w.wav"
  check "$w input holding 16-bit values, at full resolution" cmp "$work/full24.wav" "$work/full24-$w.wav"
done
# Rounded to 16 bits, the full-resolution result differs from the 16-bit
# path's by that path's truncations: a step for the gain's product, and the
# widening's step lifted by the gain (at most 6.04 x here).
within_truncations() {
  python3 - "$1" "$2" <<'EOF2'
import sys, wave, array
def samples(path):
    w = wave.open(path); a = array.array('h'); a.frombytes(w.readframes(w.getnframes())); return a
a, b = samples(sys.argv[1]), samples(sys.argv[2])
d = [abs(y - x) for x, y in zip(a, b)]
rms = (sum(v * v for v in d) / len(d)) ** 0.5
print("  %.3f of the samples differ, by at most %d, r.m.s. %.2f" % (sum(1 for v in d if v) / len(d), max(d), rms))
sys.exit(0 if len(a) == len(b) and 0 < max(d) <= 8 and rms < 4 else 1)
EOF2
}
check "rounded full resolution is within the 16-bit path's truncations" within_truncations "$work/m24n.wav" "$work/default.wav"
# The dither itself (mode 0 passes the input through): triangular noise of
# one step each way changes a quarter of the samples by one step.
"$host" -q --mode 0 "$work/middle24.wav" "$work/m24-passed.wav"
check "TPDF dither: one step at most, on about a quarter of the samples" python3 - "$work/middle.wav" "$work/m24-passed.wav" <<'EOF2'
import sys, wave, array
def samples(path):
    w = wave.open(path); a = array.array('h'); a.frombytes(w.readframes(w.getnframes())); return a
a, b = samples(sys.argv[1]), samples(sys.argv[2])
d = [y - x for x, y in zip(a, b)]
changed = sum(1 for v in d if v) / len(d)
print("  %.3f of the samples changed, largest change %d, mean %.4f" % (changed, max(map(abs, d)), sum(d) / len(d)))
sys.exit(0 if len(a) == len(b) and max(map(abs, d)) == 1 and 0.23 < changed < 0.27 and abs(sum(d) / len(d)) < 0.01 else 1)
EOF2
# Output widths: 24-bit and float WAV, 24-bit FLAC; float FLAC is refused.
"$host" -q --bits float "$work/middle24.wav" "$work/mfloat.wav"
check "--bits float writes float WAV" bash -c "soxi -e '$work/mfloat.wav' | grep -q 'Floating Point'"
check "--bits 24 writes 24-bit WAV" test "$(soxi -b "$work/full24.wav")" = 24
"$host" -q --bits 24 "$work/middle24.wav" "$work/m24.flac"
check "--bits 24 writes 24-bit FLAC" test "$(soxi -b "$work/m24.flac")" = 24
check "float FLAC is refused" runs 2 "FLAC holds integer samples only" --bits float "$work/middle24.wav" "$work/x.flac"
check "nothing written for float FLAC" absent "$work/x.flac"
check "bad --bits" runs 2 "--bits takes 16, 24 or float" --bits 20 "$work/middle24.wav" "$work/x.wav"
sox "$work/middle.wav" -b 8 "$work/middle8.wav"
check "8-bit input needs no dither" runs 0 "frames" "$work/middle8.wav" "$work/m8.wav"
check "8-bit summary" bash -c "! '$host' '$work/middle8.wav' '$work/m8.wav' | grep -q dither"
sox "$work/middle.wav" -c 1 "$work/mono.wav"
rm -rf "$work/out" && mkdir "$work/out"
check "a mono set" runs 0 "1 ch" -o "$work/out" "$work/mono.wav"

# ---- Refusals: clear message, nothing written ------------------------------
rm -rf "$work/out" && mkdir "$work/out"
refused() {  # refused STATUS PATTERN ARGS... : refused, and nothing in out/
  runs "$@" || return 1
  empty_dir "$work/out" && empty_dir "$work/tmp"
}
check "unknown key" refused 2 "there is no setting 'amp_maxx'" --set amp_maxx=3 -o "$work/out" "$work/middle.wav"
check "value out of range" refused 2 "amp_up takes a whole number from 0 to 120" --set amp_up=121 -o "$work/out" "$work/middle.wav"
check "not KEY=VALUE" refused 2 "--set takes KEY=VALUE" --set amp_max -o "$work/out" "$work/middle.wav"
check "string too long" refused 2 "enh_multi1 takes a text of 1 to 48" --set enh_multi1=$(printf 'x%.0s' {1..49}) -o "$work/out" "$work/middle.wav"
check "bad band list" refused 2 "eq takes three band gains" --set eq=50,50 -o "$work/out" "$work/middle.wav"
check "unknown preset" refused 2 "there is no preset 'Loudest'" --preset Loudest -o "$work/out" "$work/middle.wav"
check "bad mode" refused 2 "--mode takes 0" --mode 3 -o "$work/out" "$work/middle.wav"
check "bad format" refused 2 "--format takes wav, flac, mp3, opus, m4a, ogg, mp4, mkv, webm, alac or same" --format aiff -o "$work/out" "$work/middle.wav"
check "missing input" refused 1 "cannot read .*nothere.wav" -o "$work/out" "$work/middle.wav" "$work/nothere.wav"
printf 'not audio at all' > "$work/text.wav"
check "unsupported format" refused 1 "cannot read .*text.wav" -o "$work/out" "$work/middle.wav" "$work/text.wav"
sox -n -r 44100 -c 3 -b 16 "$work/three.wav" synth 0.1 sine 440
check "three channels" refused 1 "three.wav has 3 channels" -o "$work/out" "$work/middle.wav" "$work/three.wav"
sox "$work/middle.wav" -r 48000 "$work/middle48.wav"
check "mixed rates" refused 1 "share one rate and channel count" -o "$work/out" "$work/middle.wav" "$work/middle48.wav"
check "mixed channel counts" refused 1 "share one rate" -o "$work/out" "$work/middle.wav" "$work/mono.wav"
check "missing output folder" refused 1 "cannot write into the output folder .*: no such folder" -o "$work/nowhere" "$work/middle.wav"
check "output folder is a file" refused 1 "cannot write into the output folder .*middle.wav: not a folder" -o "$work/middle.wav" "$work/quiet.wav"
mkdir -p "$work/locked" && chmod 555 "$work/locked"
if [ -w "$work/locked" ]; then  # (root writes anywhere)
  echo "  (running as root: the read-only folder case is skipped)"
else
  check "unwritable output folder" refused 1 "cannot write into the output folder" -o "$work/locked" "$work/middle.wav"
fi
mkdir -p "$work/a" "$work/b" && cp "$work/middle.wav" "$work/a/x.wav" && cp "$work/quiet.wav" "$work/b/x.flac"
check "duplicate output names" refused 1 "two inputs would both be written to .*x.wav" --format wav -o "$work/out" "$work/a/x.wav" "$work/b/x.flac"
cp "$work/middle.wav" "$work/out/self.wav"
check "output over its input" runs 1 "would overwrite the input" -o "$work/out" "$work/out/self.wav"
check "the input is untouched" same "$work/out/self.wav" "$work/middle.wav"
check "output over a later input" runs 1 "would overwrite the input .*self.wav" \
  -o "$work/out" "$work/a/x.wav" "$work/out/self.wav"
check "output over its input, single file" runs 1 "would overwrite the input" "$work/middle.wav" "$work/middle.wav"
check "still the input" same "$work/middle.wav" "$work/mode0.wav"
rm -f "$work/out/self.wav"
check "bad plot name" refused 2 "--plot writes .png or .svg" --plot "$work/p.jpg" -o "$work/out" "$work/middle.wav"

# An input that cannot be read when its turn comes: the run stops there, the
# finished files stay complete, the unfinished one never appears. The first
# input comes through a pipe, so the test decides when it ends.
late_failure() {
  rm -rf "$work/out" && mkdir "$work/out" && rm -f "$work/first.wav"
  mkfifo "$work/first.wav" || return 1
  cp "$work/middle.wav" "$work/second.wav"
  "$host" -q -o "$work/out" "$work/first.wav" "$work/second.wav" "$work/loud.wav" >"$work/late.log" 2>&1 &
  local pid=$!
  exec 9>"$work/first.wav"
  local size; size=$(stat -c %s "$work/quiet.wav")
  head -c $((size / 2)) "$work/quiet.wav" >&9
  local i
  for i in $(seq 100); do [ -s "$work/out/first.wav.partial" ] && break; sleep 0.1; done
  [ -s "$work/out/first.wav.partial" ] || { echo "  the run never started writing"; exec 9>&-; kill "$pid"; return 1; }
  printf 'no longer audio' > "$work/second.wav"   # spoilt while the first file plays
  tail -c +$((size / 2 + 1)) "$work/quiet.wav" >&9
  exec 9>&-
  wait "$pid"; local got=$?
  [ "$got" -eq 1 ] || { echo "  exit $got, expected 1: $(cat "$work/late.log")"; return 1; }
  grep -q "cannot read .*second.wav" "$work/late.log" || { echo "  no message: $(cat "$work/late.log")"; return 1; }
}
check "a spoilt input stops the run" late_failure
check "the finished file is complete" same "$work/out/first.wav" "$work/quiet-alone-1.wav"
check "the spoilt file's output is absent" absent "$work/out/second.wav"
check "the file after it is absent" absent "$work/out/loud.wav"
check "no partial file" bash -c "! ls '$work/out' | grep -q partial"

# Interrupted in the middle of a set: the partial output goes, the finished
# ones stay, and so does nothing of the private settings folder.
interrupted() {
  set -m  # a job of its own, so that the shell does not make it ignore SIGINT
  rm -rf "$work/out" && mkdir "$work/out" && rm -f "$work/pipe.wav"
  mkfifo "$work/pipe.wav" || return 1
  "$host" -q --mode 2 -o "$work/out" "$work/middle.wav" "$work/pipe.wav" & local pid=$!
  exec 9>"$work/pipe.wav"
  head -c 200044 "$work/loud.wav" >&9
  local i
  for i in $(seq 100); do [ -s "$work/out/pipe.wav.partial" ] && break; sleep 0.1; done
  [ -s "$work/out/pipe.wav.partial" ] || { echo "  the run never started writing"; exec 9>&-; kill "$pid"; return 1; }
  kill -INT "$pid"
  wait "$pid"; local got=$?
  exec 9>&-
  set +m
  [ "$got" -eq 130 ] || { echo "  exit $got, expected 130"; return 1; }
}
check "interrupted by Ctrl-C" interrupted
check "no partial file after Ctrl-C" bash -c "! ls '$work/out' | grep -q partial"
check "nothing of the interrupted file" absent "$work/out/pipe.wav"
check "the finished file of the set stays" test -s "$work/out/middle.wav"
check "no private folder after Ctrl-C" empty_dir "$work/tmp"

finish "host sets and settings"
