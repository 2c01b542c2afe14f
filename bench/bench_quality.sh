#!/usr/bin/env bash
# The quality benchmark (make bench-quality): every built-in preset with the
# output stage, modes 0/1/2 with the stage (target -16 LUFS, ceiling -1 dBTP)
# and the Debian peers, on steady signals and on music played as one stream;
# prints two Markdown tables.
#   Steady signals (bench_quality signals): 30 s of 44.1 kHz stereo, made in
#   float and reduced to 16-bit WAV (sox, without dither), processed to 16-bit
#   WAV (dsphost --delay remove, the player's path), measured over
#   the last 5 s of (L + R) / 2. THD+N and IMD in dB below the tone; "added
#   pumping": p95 - p5 of the 20 ms r.m.s. envelope of the 1-4 kHz band
#   (4th-order Butterworth high- and low-pass) of the output, minus the same
#   of the input.
#   Music: eight 60 s excerpts of the recordings in SOURCES (default: Debian's
#   wesnoth-1.16-music, GPL-2+) at -30..-10 LUFS, 16-bit, played as one
#   stream (dsphost -o; the peers run the set joined into one file, cut back
#   into its pieces). Spread = max - min integrated loudness of the pieces;
#   LRA kept = sum of the pieces' loudness ranges after over before; the
#   highest true peak; samples at |s| >= 32766 (all by libebur128); the
#   highest true peak by ffmpeg's ebur128=peak=true as well.
# Usage: bench_quality.sh BIN_DIR WORK_DIR
# ONLY=ours skips the peers; ROWS="label|dsphost args;..." replaces our rows;
# BITS=float runs the steady signals as float WAV in and out instead (the
# plug-in's full-resolution path: the processing's own figures, without the
# 16-bit steps and dither).
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
steady_bits=float steady_in=$work/signals
if [ "${BITS:-16}" = 16 ]; then
  steady_bits=16 steady_in=$work/signals16
  mkdir -p "$steady_in"
  for s in "${signals[@]}"; do [ -s "$steady_in/$s.wav" ] || sox -V1 -D "$work/signals/$s.wav" -b 16 "$steady_in/$s.wav"; done
fi
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
labels=() dirs=()
row_dir() {  # row_dir LABEL: a row's folder, listed in the order of the tables
  local dir; dir="$work/out/$(echo "$1" | tr -c 'A-Za-z0-9' _)"
  labels+=("$1") dirs+=("$dir")
  rm -rf "$dir"; mkdir -p "$dir/steady" "$dir/music"
}
ffmpeg_peak() {  # ffmpeg_peak DIR: the highest true peak of DIR's pieces by ffmpeg's ebur128=peak=true
  local f
  for f in "$1"/piece?.wav; do
    ffmpeg -nostdin -hide_banner -nostats -i "$f" -af ebur128=peak=true -f null - 2>&1 |
      sed -n '/Summary/,$ s/^ *Peak: *\(-*[0-9.inf]*\) dBFS.*/\1/p' | tail -1
  done | sort -g | tail -1
}
measure() {  # measure LABEL DIR: the row's figures into DIR/steady.row and DIR/music.row
  local s m
  s=$("$bin/bench_quality" steady "$steady_in" "$2/steady" 2>&1) || s="failed: $s"
  m=$("$bin/bench_quality" music "$work/music/in" "$2/music" 2>&1) || m="failed: $m"
  m="$m | $(ffmpeg_peak "$2/music") dBTP"
  echo "$s" > "$2/steady.row"; echo "$m" > "$2/music.row"
  echo "$1: $s; $m" >&2
}
jobs=${JOBS:-$(nproc)}
launch() {  # launch COMMAND...: in the background, at most $jobs at once
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  "$@" &
}
ours() {  # ours DIR LABEL ARGS...
  local dir=$1 label=$2; shift 2
  for s in "${signals[@]}"; do
    "$bin/dsphost" -q --delay remove --bits "$steady_bits" "$@" "$steady_in/$s.wav" "$dir/steady/$s.wav"
  done
  "$bin/dsphost" -q "$@" -o "$dir/music" "${pieces[@]}"
  measure "$label" "$dir"
}
peer() {  # peer DIR LABEL KIND FILTER: KIND ffmpeg (an -af graph) or sox (effects)
  local dir=$1 label=$2 kind=$3 filter=$4 s
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
  for s in "${signals[@]}"; do run_peer "$steady_in/$s.wav" "$dir/steady/$s.wav" "$steady_bits" || true; done
  rmdir "$dir/music"
  run_peer "$work/music/set.wav" "$dir/set.wav" 16 && cut "$dir/set.wav" "$dir/music" || true
  measure "$label" "$dir"
}
peer_row() {  # peer_row LABEL KIND FILTER
  row_dir "$1"; launch peer "${dirs[-1]}" "$@"
}

input=$("$bin/bench_quality" music "$work/music/in" "$work/music/in")  # also keeps the inputs' ranges
for r in "${rows[@]}"; do
  row_dir "${r%%|*}"
  eval "launch ours \"\${dirs[-1]}\" \"\${r%%|*}\" ${r#*|}"
done
if [ "${ONLY:-}" != ours ]; then
  lv2() { printf 'lv2=p=%s' "$(echo "$1" | sed 's/:/\\\\:/g')${2:+:c=$2}"; }
  peer_row "ffmpeg loudnorm=I=-16:TP=-1" ffmpeg "loudnorm=I=-16:TP=-1"
  peer_row "ffmpeg dynaudnorm" ffmpeg dynaudnorm
  peer_row "ffmpeg speechnorm" ffmpeg speechnorm
  peer_row "sox compand 0.005,0.1 -60,-60,-20,-10,0,-6 -3" sox "compand 0.005,0.1 -60,-60,-20,-10,0,-6 -3"
  peer_row "x42 dpl, -1 dBTP" ffmpeg "$(lv2 http://gareus.org/oss/lv2/dpl#stereo 'threshold=-1|truepeak=1')"
  peer_row "Calf multiband compressor, defaults" ffmpeg "$(lv2 http://calf.sourceforge.net/plugins/MultibandCompressor)"
  peer_row "LSP compressor stereo, defaults" ffmpeg "$(lv2 http://lsp-plug.in/plugins/lv2/compressor_stereo)"
fi
wait

table() {  # table NAME: each row's NAME.row
  local i
  for i in "${!dirs[@]}"; do echo "| ${labels[$i]} | $(cat "${dirs[$i]}/$1.row" 2>/dev/null || echo failed) |"; done
}
echo
echo "| processor | THD+N 1 kHz at -20 dBFS | THD+N 1 kHz at -6 dBFS | THD+N 50 Hz at -6 dBFS | SMPTE IMD (60 Hz + 7 kHz 4:1, -3 dBFS) | added pumping |"
echo "|---|---|---|---|---|---|"
table steady
echo
echo "| processor | spread of integrated loudness | LRA kept | highest true peak | full-scale samples | highest true peak by ffmpeg |"
echo "|---|---|---|---|---|---|"
echo "| input | $input | $(ffmpeg_peak "$work/music/in") dBTP |"
table music
