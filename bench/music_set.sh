# Sourced by the benchmarks: music_set DIR SOURCES writes DIR/piece0..7.wav,
# 60 s excerpts (from 20 s in) of the first eight recordings of at least 90 s
# in SOURCES (any format ffmpeg reads, sorted by path), 44.1 kHz stereo, each
# brought by a plain gain to the loudness of `music_levels` (16-bit, clipped
# where the level asks for more than full scale). Existing pieces are kept.
music_levels=(-22 -10 -30 -14 -26 -18 -12 -28)
integrated() {  # integrated FILE: its integrated loudness by ffmpeg's ebur128
  ffmpeg -nostdin -hide_banner -nostats -i "$1" -af ebur128 -f null - 2>&1 |
    sed -n '/Summary/,$p' | sed -n 's/^ *I: *\(-*[0-9.]*\) LUFS/\1/p'
}
music_set() {
  local dir=$1 sources=() f d i gain
  mkdir -p "$dir"
  while IFS= read -r f; do
    d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f" || echo 0)
    awk -v d="$d" 'BEGIN { exit !(d >= 90) }' && sources+=("$f")
    [ ${#sources[@]} -lt 8 ] || break
  done < <(find "$2" -type f \( -name '*.ogg' -o -name '*.flac' -o -name '*.wav' -o -name '*.mp3' \) | sort)
  [ ${#sources[@]} -eq 8 ] || { echo "music_set: $2 needs eight recordings of at least 90 s" >&2; return 2; }
  for i in "${!music_levels[@]}"; do
    [ -s "$dir/piece$i.wav" ] && continue
    ffmpeg -nostdin -y -v error -ss 20 -t 60 -i "${sources[$i]}" -ar 44100 -ac 2 -c:a pcm_f32le "$dir/raw$i.wav"
    gain=$(awk -v want="${music_levels[$i]}" -v have="$(integrated "$dir/raw$i.wav")" 'BEGIN { printf "%.2f", want - have }')
    sox -V1 "$dir/raw$i.wav" -b 16 "$dir/piece$i.wav" gain "$gain"
    rm -f "$dir/raw$i.wav"
  done
}
