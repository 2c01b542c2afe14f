#!/usr/bin/env bash
# The quality benchmark (make bench-quality): every built-in preset with the
# output stage, modes 0/1/2 with the stage (target -16 LUFS, ceiling -1 dBTP)
# and the Debian peers, on steady signals and on music played as one stream;
# prints two Markdown tables.
#   Steady signals (bench_quality signals): 30 s of 44.1 kHz stereo float WAV,
#   processed to float WAV (dsphost --delay remove --bits float), measured over
#   the last 5 s of (L + R) / 2. THD+N and IMD in dB below the tone; "added
#   pumping": p95 - p5 of the 20 ms r.m.s. envelope of the 1-4 kHz band
#   (4th-order Butterworth high- and low-pass) of the output, minus the same
#   of the input.
#   Music: eight 60 s excerpts of the recordings in SOURCES (default: Debian's
#   wesnoth-1.16-music, GPL-2+) at -30..-10 LUFS, 16-bit, played as one
#   stream (dsphost -o; the peers run the set joined into one file, cut back
#   into its pieces). Spread = max - min integrated loudness of the pieces;
#   LRA kept = sum of the pieces' loudness ranges after over before; the
#   highest true peak; samples at |s| >= 32766 (all by libebur128).
# Usage: bench_quality.sh BIN_DIR WORK_DIR
# ONLY=ours skips the peers; ROWS="label|dsphost args;..." replaces our rows.
set -eu
bin=$(cd "$1" && pwd) work=$2
here=$(cd "$(dirname "$0")" && pwd)
sources=${SOURCES:-/usr/share/games/wesnoth/1.16/data/core/music}
mkdir -p "$work/signals" "$work/music"
export XDG_CONFIG_HOME="$work/profile" LV2_PATH="$bin/../lv2:/usr/lib/lv2"
mkdir -p "$XDG_CONFIG_HOME"
. "$here/music_set.sh"
music_set "$work/music/in" "$sources"
[ -s "$work/signals/pumping.wav" ] || "$bin/bench_quality" signals "$work/signals"
signals=(sine1k-20 sine1k-6 sine50-6 smpte pumping)
pieces=("$work"/music/in/piece?.wav)
[ -s "$work/music/set.wav" ] || sox "${pieces[@]}" "$work/music/set.wav"

rows=()
if [ -n "${ROWS:-}" ]; then
  IFS=';' read -r -a rows <<< "$ROWS"
else
  while IFS= read -r p; do rows+=("ours, \"$p\"|--preset \"$p\""); done < <("$bin/bench_quality" presets)
  rows+=("ours, mode 0 + stage (the stage alone)|--mode 0 --target -16 --true-peak -1"
         "ours, mode 1 + stage|--mode 1 --target -16 --true-peak -1"
         "ours, mode 2 + stage|--mode 2 --target -16 --true-peak -1"
         "ours, mode 2, stage off|--mode 2")
fi

cut() {  # cut FILE DIR: a processed set cut back into its pieces
  local at=0 i=0 n f
  mkdir -p "$2"
  for f in "${pieces[@]}"; do
    n=$(soxi -s "$f")
    sox -V1 "$1" "$2/piece$i.wav" trim "${at}s" "${n}s"
    at=$((at + n)); i=$((i + 1))
  done
}
steady_table=() music_table=()
add_rows() {  # add_rows LABEL STEADY_DIR MUSIC_DIR: one row of each table
  local s m
  s=$("$bin/bench_quality" steady "$work/signals" "$2" 2>&1) || s="failed: $s"
  m=$("$bin/bench_quality" music "$work/music/in" "$3" 2>&1) || m="failed: $m"
  steady_table+=("| $1 | $s |") music_table+=("| $1 | $m |")
  echo "$1: $s; $m" >&2
}
ours() {  # ours LABEL ARGS...
  local label=$1 dir; shift
  dir="$work/out/$(echo "$label" | tr -c 'A-Za-z0-9' _)"
  rm -rf "$dir"; mkdir -p "$dir/steady" "$dir/music"
  for s in "${signals[@]}"; do
    "$bin/dsphost" -q --delay remove --bits float "$@" "$work/signals/$s.wav" "$dir/steady/$s.wav"
  done
  "$bin/dsphost" -q "$@" -o "$dir/music" "${pieces[@]}"
  add_rows "$label" "$dir/steady" "$dir/music"
}
peer() {  # peer LABEL KIND FILTER: KIND ffmpeg (an -af graph) or sox (effects)
  local label=$1 kind=$2 filter=$3 dir s
  dir="$work/out/$(echo "$label" | tr -c 'A-Za-z0-9' _)"
  rm -rf "$dir"; mkdir -p "$dir/steady"
  run_peer() {  # run_peer IN OUT BITS
    if [ "$kind" = ffmpeg ]; then
      local codec=pcm_s16le; [ "$3" = float ] && codec=pcm_f32le
      ffmpeg -nostdin -y -v error -i "$1" -af "$filter" -ar 44100 -ac 2 -c:a $codec "$2"
    else
      local format=(-b 16); [ "$3" = float ] && format=(-e floating-point -b 32)
      # shellcheck disable=SC2086
      sox -V1 -D "$1" "${format[@]}" "$2" $filter
    fi
  }
  for s in "${signals[@]}"; do run_peer "$work/signals/$s.wav" "$dir/steady/$s.wav" float || true; done
  run_peer "$work/music/set.wav" "$dir/set.wav" 16 && cut "$dir/set.wav" "$dir/music" || true
  add_rows "$label" "$dir/steady" "$dir/music"
}

for r in "${rows[@]}"; do
  eval "ours \"\${r%%|*}\" ${r#*|}"
done
if [ "${ONLY:-}" != ours ]; then
  lv2() { printf 'lv2=p=%s' "$(echo "$1" | sed 's/:/\\\\:/g')${2:+:c=$2}"; }
  peer "ffmpeg loudnorm=I=-16:TP=-1" ffmpeg "loudnorm=I=-16:TP=-1"
  peer "ffmpeg dynaudnorm" ffmpeg dynaudnorm
  peer "ffmpeg speechnorm" ffmpeg speechnorm
  peer "sox compand 0.005,0.1 -60,-60,-20,-10,0,-6 -3" sox "compand 0.005,0.1 -60,-60,-20,-10,0,-6 -3"
  peer "x42 dpl, -1 dBTP" ffmpeg "$(lv2 http://gareus.org/oss/lv2/dpl#stereo 'threshold=-1|truepeak=1')"
  peer "Calf multiband compressor, defaults" ffmpeg "$(lv2 http://calf.sourceforge.net/plugins/MultibandCompressor)"
  peer "LSP compressor stereo, defaults" ffmpeg "$(lv2 http://lsp-plug.in/plugins/lv2/compressor_stereo)"
fi

echo
echo "| processor | THD+N 1 kHz at -20 dBFS | THD+N 1 kHz at -6 dBFS | THD+N 50 Hz at -6 dBFS | SMPTE IMD (60 Hz + 7 kHz 4:1, -3 dBFS) | added pumping |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${steady_table[@]}"
echo
echo "| processor | spread of integrated loudness | LRA kept | highest true peak | full-scale samples |"
echo "|---|---|---|---|---|"
input=$("$bin/bench_quality" music "$work/music/in" "$work/music/in")
echo "| input | $input |"
printf '%s\n' "${music_table[@]}"
