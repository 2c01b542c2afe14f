#!/usr/bin/env bash
# The output stage side by side with peers on one set of eight pieces
# levelled from -30 to -10 LUFS, played as one set: per configuration the
# spread of integrated loudness, the range of the outputs' loudness, the
# highest true peak (ffmpeg ebur128=peak=true) and the samples at
# |s| >= 32766. "Set as one file" rows run the set joined into one file and
# measure it cut back into its pieces.
# The pieces are generated (tests/end_to_end/make_music), or, with
# SOURCES=DIR, 60 s excerpts of the first eight recordings of at least 90 s
# in DIR (any format ffmpeg reads), each levelled by a plain gain (16-bit,
# clipped where the level asks for more than full scale).
# Usage: [SOURCES=DIR] compare_output_stage.sh BIN_DIR WORK_DIR
set -eu
bin=$(cd "$1" && pwd) work=$2
mkdir -p "$work/in"
export XDG_CONFIG_HOME="$work/profile" LV2_PATH="$bin/../lv2:/usr/lib/lv2"
mkdir -p "$XDG_CONFIG_HOME"
. "$(dirname "$0")/music_set.sh"
levels=("${music_levels[@]}")
if [ -n "${SOURCES:-}" ]; then
  music_set "$work/in" "$SOURCES"
else
  for i in "${!levels[@]}"; do
    [ -s "$work/in/piece$i.wav" ] || "$bin/make_music" "$work/in/piece$i.wav" 60 $((20 + i)) "${levels[$i]}"
  done
fi
inputs=("$work"/in/piece?.wav)
sox "${inputs[@]}" "$work/set.wav"

measure() {  # measure DIR: one line of figures over DIR/piece?.wav
  python3 - "$1" <<'PY'
import subprocess, sys, glob, re, wave, array
lufs, peaks, full = [], [], 0
for f in sorted(glob.glob(sys.argv[1] + "/piece?.wav")):
    out = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", f, "-af", "ebur128=peak=true", "-f", "null", "-"],
                         capture_output=True, text=True).stderr
    s = out[out.rindex("Summary"):]
    lufs.append(float(re.search(r"I:\s+(-?[0-9.]+) LUFS", s).group(1)))
    peaks.append(float(re.search(r"Peak:\s+(-?[0-9.inf]+) dBFS", s).group(1)))
    w = wave.open(f); a = array.array("h"); a.frombytes(w.readframes(w.getnframes()))
    full += sum(1 for v in a if v >= 32766 or v <= -32766)
print("%6.2f LU  %6.1f .. %6.1f LUFS  %6.1f dBTP  %8d" % (max(lufs) - min(lufs), min(lufs), max(lufs), max(peaks), full))
PY
}
cut() {  # cut FILE DIR: the set-as-one-file output cut back into its pieces
  local at=0 i=0
  mkdir -p "$2"
  for f in "${inputs[@]}"; do
    local n; n=$(soxi -s "$f")
    sox "$1" "$2/piece$i.wav" trim ${at}s ${n}s
    at=$((at + n)); i=$((i + 1))
  done
}
row() { printf '%-44s %s\n' "$1" "$(measure "$2")"; }

printf '%-44s %s\n' "configuration" "spread    output loudness        true peak  full scale"
row "input" "$work/in"
for mode in 1 2; do
  for stage in off on; do
    out="$work/ours-$mode-$stage"; rm -rf "$out"; mkdir -p "$out"
    extra=(); [ $stage = on ] && extra=(--target -16 --true-peak -1)
    "$bin/dsphost" -q --mode $mode "${extra[@]}" -o "$out" "${inputs[@]}"
    row "dsphost mode $mode, output stage $stage" "$out"
  done
done
out="$work/ours-0-on"; rm -rf "$out"; mkdir -p "$out"
"$bin/dsphost" -q --mode 0 --target -16 --true-peak -1 -o "$out" "${inputs[@]}"
row "dsphost mode 0 (the stage alone)" "$out"
for mode in 0 1 2; do
  "$bin/dsphost" -q --mode $mode --target -16 --true-peak -1 "$work/set.wav" "$work/ours-set-$mode.wav"
  cut "$work/ours-set-$mode.wav" "$work/ours-set-$mode"
  row "dsphost mode $mode + stage, set as one file" "$work/ours-set-$mode"
done
ffmpeg -nostdin -y -v error -i "$work/set.wav" -af "lv2=p=http\\\\://gareus.org/oss/lv2/dpl#stereo:c=threshold=-1|truepeak=1" -c:a pcm_s16le "$work/dpl.wav"
cut "$work/dpl.wav" "$work/dpl"; row "x42 dpl, -1 dB, true peak (set as one file)" "$work/dpl"
mkdir -p "$work/loudnorm"; i=0
for f in "${inputs[@]}"; do
  ffmpeg -nostdin -y -v error -i "$f" -af loudnorm=I=-16:TP=-1 -ar 44100 -c:a pcm_s16le "$work/loudnorm/piece$i.wav"; i=$((i + 1))
done
row "ffmpeg loudnorm=I=-16:TP=-1, per file" "$work/loudnorm"
ffmpeg -nostdin -y -v error -i "$work/set.wav" -af loudnorm=I=-16:TP=-1 -ar 44100 -c:a pcm_s16le "$work/loudnorm-set.wav"
cut "$work/loudnorm-set.wav" "$work/loudnorm-set"; row "ffmpeg loudnorm=I=-16:TP=-1, set as one file" "$work/loudnorm-set"
ffmpeg -nostdin -y -v error -i "$work/set.wav" -af dynaudnorm -c:a pcm_s16le "$work/dynaudnorm.wav"
cut "$work/dynaudnorm.wav" "$work/dynaudnorm"; row "ffmpeg dynaudnorm (set as one file)" "$work/dynaudnorm"
