#!/usr/bin/env bash
# dsphost over the formats FFmpeg's libraries read and write: every input
# format decodes to ffmpeg's own samples, every output format carries the
# input's tags and picture, holds its loudness and stays under the ceiling;
# damaged and unusual files are refused or read as documented.
# Usage: host_media_test.sh BIN_DIR MAKE_MUSIC WORK_DIR
set -u
bin_dir=$1 make_music=$2 work=$3/host-media
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile" "$work/out"
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile"
host="$work/bin/dsphost"
source "$(dirname "$0")/checks.sh"
ff() { ffmpeg -nostdin -v error -y "$@"; }
# decoded FILE [MAP] : the md5 of ffmpeg's float decode, and its frame count
decoded() { ff -i "$1" -map "0:a:${2:-0}" -f f32le "$work/raw" && echo "$(md5sum <"$work/raw" | cut -c1-32) $(stat -c %s "$work/raw")"; }
same_decode() { [ "$(decoded "$1")" = "$(decoded "$2" "${3:-0}")" ] || { echo "  $1 and $2 decode differently"; return 1; }; }
tag() { ffprobe -v error -show_entries "format_tags=$2:stream_tags=$2" -of default=nw=1:nk=1 "$1" | head -1; }
pictures() { ffprobe -v error -select_streams v -show_entries stream_disposition=attached_pic -of csv=p=0 "$1" | grep -c 1; }
# measure FILE COLUMN : dsphost's own meter on the decoded file (4 integrated, 8 true peak)
measure() { "$host" -l --mode 0 "$1" "$work/measured.wav" | awk -v f="$(basename "$1")" -v c="$2" '$1 == f {print $c}'; }
at_most() { awk -v a="$1" -v b="$2" 'BEGIN {exit !(a <= b)}' || { echo "  $1 > $2"; return 1; }; }
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN {d = a - b; exit !(d <= t && -d <= t)}' || { echo "  $1 vs $2"; return 1; }; }
absent() { [ ! -e "$1" ] && ! ls "$(dirname "$1")" | grep -q partial || { echo "  $1 or a partial file exists"; return 1; }; }

# A tagged 44.1 kHz recording with a cover and a ReplayGain tag, as a library holds it.
"$make_music" "$work/music.wav" 6 5 -16 >/dev/null
ff -f lavfi -i "color=c=red:s=32x32:d=1" -frames:v 1 "$work/cover.png"
ff -i "$work/music.wav" -i "$work/cover.png" -map 0 -map 1 -c:v png -disposition:v attached_pic \
  -metadata title="A Title" -metadata artist="Some Artist" -metadata album="An Album" \
  -metadata REPLAYGAIN_TRACK_GAIN="-3.00 dB" "$work/tagged.flac"

# ---- Input formats: the samples ffmpeg decodes, the same length ------------
inputs=(  # name  ffmpeg's codec options
  "in.mp3   -c:a libmp3lame -q:a 4"
  "in.m4a   -c:a aac -b:a 128k"
  "alac.m4a -c:a alac"
  "in.opus  -c:a libopus"
  "in.ogg   -c:a libvorbis"
  "in.mka   -c:a aac"
  "in.webm  -c:a libopus"
  "in.wma   -c:a wmav2"
)
for row in "${inputs[@]}"; do
  read -r name codec <<<"$row"
  # shellcheck disable=SC2086
  ff -i "$work/music.wav" $codec "$work/$name"
  "$host" -q --mode 0 --bits float "$work/$name" "$work/$name.wav"
  check "$name decodes as ffmpeg decodes it" same_decode "$work/$name.wav" "$work/$name"
done

# ---- Output formats: tags, picture, loudness, ceiling ----------------------
"$host" -q --mode 2 "$work/tagged.flac" "$work/ref.wav"
ref_lufs=$(measure "$work/ref.wav" 4)
outputs=(  # extension  pictures kept  loudness tolerance (LU)
  "wav  0 0"
  "flac 1 0"
  "mp3  1 0.1"
  "m4a  1 0.1"
  "opus 0 0.1"
  "ogg  0 0.1"
)
for row in "${outputs[@]}"; do
  read -r ext pics tolerance <<<"$row"
  out="$work/out.$ext"
  check "$ext written" runs 0 "frames" --mode 2 "$work/tagged.flac" "$out"
  check "$ext keeps the title" test "$(tag "$out" title)" = "A Title"
  check "$ext keeps the artist" test "$(tag "$out" artist)" = "Some Artist"
  check "$ext drops the ReplayGain tag" test -z "$(tag "$out" REPLAYGAIN_TRACK_GAIN)"
  check "$ext holds $pics picture(s)" test "$(pictures "$out")" = "$pics"
  check "$ext loudness within $tolerance LU" near "$(measure "$out" 4)" "$ref_lufs" "$tolerance"
  if [ "$tolerance" = 0 ]; then
    check "$ext holds the samples" same_decode "$out" "$work/ref.wav"
  else
    "$host" -q --mode 2 -t -10 -T -1 "$work/tagged.flac" "$work/hot.$ext"
    check "$ext decoded true peak under -1 dBTP" at_most "$(measure "$work/hot.$ext" 8)" -1.0
  fi
done
# Low bit rates overshoot more than the fixed headroom: the output is decoded
# and made again with a lower ceiling until it decodes under the one asked for.
for row in "m4a 32" "opus 6"; do
  read -r ext rate <<<"$row"
  check "$ext at $rate kbit/s made again" runs 0 "processing again with the ceiling at" --mode 2 -t -10 -T -1 -Q "$rate" "$work/tagged.flac" "$work/low.$ext"
  check "$ext at $rate kbit/s decoded true peak under -1 dBTP" at_most "$(measure "$work/low.$ext" 8)" -1.0
done
check "the picture is the input's" test "$(ff -i "$work/out.mp3" -map 0:v -f md5 -)" = "$(ff -i "$work/tagged.flac" -map 0:v -f md5 -)"

# Chapters (an audiobook's) go wherever the container holds them.
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=4000\ntitle=Two\n' > "$work/chapters.txt"
ff -i "$work/music.wav" -i "$work/chapters.txt" -map 0:a -map_chapters 1 -c:a aac "$work/book.m4a"
chapters() { ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title -of csv=p=0 "$1"; }
for ext in m4a mp3 mkv; do
  "$host" -q "$work/book.m4a" "$work/book-out.$ext"
  check "$ext keeps the chapters" test "$(chapters "$work/book-out.$ext")" = "$(chapters "$work/book.m4a")"
done

# ---- A set keeps each file's format ----------------------------------------
check "a mixed set" runs 0 "frames" -o "$work/out" "$work/tagged.flac" "$work/in.mp3" "$work/in.m4a" "$work/in.ogg"
for f in tagged.flac in.mp3 in.m4a in.ogg; do
  codec_in=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$work/$f" | head -1)
  codec_out=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$work/out/$f" | head -1)
  check "$f stays $codec_in" test "$codec_out" = "$codec_in"
done

# ---- A set keeps each lossless file's resolution (--format same) ---------
# (the 16-bit one dithered from the set's full-resolution path)
ff -i "$work/music.wav" -c:a pcm_s24le "$work/deep.wav"
ff -i "$work/deep.wav" -c:a flac "$work/deep.flac"
ff -i "$work/deep.wav" -c:a alac "$work/deep.m4a"
bits() { ffprobe -v error -show_entries stream=bits_per_raw_sample,bits_per_sample -of csv=p=0 "$1" | tr , '\n' | sort -n | tail -1; }
mkdir -p "$work/deep" "$work/deep16"
"$host" -q --mode 0 -o "$work/deep" "$work/deep.flac" "$work/deep.wav" "$work/deep.m4a" "$work/music.wav"
"$host" -q --mode 0 -o "$work/deep16" "$work/alac.m4a"
for row in "deep/deep.flac 24" "deep/deep.wav 24" "deep/deep.m4a 24" "deep/music.wav 16" "deep16/alac.m4a 16"; do
  read -r name depth <<<"$row"
  check "$name stays $depth-bit" test "$(bits "$work/$name")" = "$depth"
  [ "$name" != deep/music.wav ] && check "$name keeps its samples" same_decode "$work/$name" "$work/${name#*/}"
done
check "ALAC stays ALAC" test "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$work/deep/deep.m4a")" = alac

# ---- Video files: every other stream copied as it was, audio at its time ---
frames() { ff -i "$1" -map "$2" -c copy -f framemd5 - | grep -v '^#'; }
start() { ffprobe -v error -select_streams "$2" -show_entries stream=start_time -of csv=p=0 "$1"; }
videos=(  # file  ffmpeg's options  audio lag allowed (s): the priming Matroska cannot take off
  "film.mp4  -c:v mpeg4 -c:a aac   0"
  "film.mkv  -c:v mpeg4 -c:a aac -c:s srt 0.024"
  "film.webm -c:v libvpx -c:a libopus 0.014"
)
printf '1\n00:00:01,000 --> 00:00:02,000\nHello\n' > "$work/subs.srt"
for row in "${videos[@]}"; do
  read -r name options <<<"$row"; lag=${options##* }; options=${options% *}
  subs=(); [[ $name == *.mkv ]] && subs=(-i "$work/subs.srt" -map 2)
  # shellcheck disable=SC2086
  ff -f lavfi -i "testsrc=s=96x64:r=25:d=4" -i "$work/music.wav" "${subs[@]}" -map 0:v -map 1:a -t 4 $options "$work/$name"
  check "$name written" runs 0 "frames" --mode 2 --delay remove "$work/$name" "$work/out-$name"
  check "$name: the video's packets and times unchanged" test "$(frames "$work/$name" 0:v)" = "$(frames "$work/out-$name" 0:v)"
  [ ${#subs[@]} -gt 0 ] && check "$name: the subtitles unchanged" test "$(frames "$work/$name" 0:s)" = "$(frames "$work/out-$name" 0:s)"
  check "$name: the audio starts in time" near "$(start "$work/out-$name" a)" "$(start "$work/$name" a)" "$lag"
  length() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
  # (longer by the lag and at most one AAC frame of the encoder's end padding)
  check "$name: same length" near "$(length "$work/out-$name")" "$(length "$work/$name")" "$(awk -v l="$lag" 'BEGIN {print l + 0.024}')"
done

# ---- Damaged and unusual files ---------------------------------------------
check "a quality the codec does not take" runs 2 "--quality for mp3 takes 0 to 9, not 10" --quality 10 "$work/in.mp3" "$work/q.mp3"
check "nothing written for it" absent "$work/q.mp3"
size=$(stat -c %s "$work/in.mp3")
head -c $((size / 2)) "$work/in.mp3" > "$work/cut.mp3"
check "a cut-off MP3 is refused" runs 1 "cut.mp3 failed: it ends after" "$work/cut.mp3" "$work/cut.wav"
check "nothing written for it" absent "$work/cut.wav"
for ext in ogg opus; do  # an Ogg file cut off has no end-of-stream page
  oggsize=$(stat -c %s "$work/in.$ext")
  head -c $((oggsize * 2 / 3)) "$work/in.$ext" > "$work/cut.$ext"
  check "a cut-off .$ext is refused" runs 1 "cut.$ext: it ends without the end-of-stream mark" "$work/cut.$ext" "$work/cut.wav"
  check "nothing written for it" absent "$work/cut.wav"
done
ff -f lavfi -i "color=c=blue:s=32x32:d=1" -c:v mpeg4 "$work/video.mp4"
check "no audio stream" runs 1 "video.mp4: it holds no audio stream" "$work/video.mp4" "$work/video.wav"
check "nothing written for it" absent "$work/video.wav"
ff -i "$work/music.wav" -i "$work/in.ogg" -map 0:a -map 1:a -c:a aac "$work/two.mka"
check "two streams: the first, and a note" runs 0 "holds 2 audio streams; the first is read" "$work/two.mka" "$work/two.wav"
"$host" -q --mode 0 --bits float --stream 1 "$work/two.mka" "$work/second.wav"
check "--stream 1 reads the second" same_decode "$work/second.wav" "$work/two.mka" 1
check "a stream past the last" runs 1 "has 2 audio streams (--stream takes 0 to 1)" --stream 2 "$work/two.mka" "$work/x.wav"
cp "$work/in.mp3" "$work/damaged.mp3"
printf '\x00%.0s' $(seq 600) | dd of="$work/damaged.mp3" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
check "a damaged frame mid-file" runs 0 "frames" --mode 0 "$work/damaged.mp3" "$work/damaged.wav"
check "the rest is read, to the file's own length" test "$(ff -i "$work/damaged.wav" -f s16le - | wc -c)" -eq "$(ff -i "$work/in.mp3" -f s16le - | wc -c)"
# Damaged AAC packets in an M4A: each becomes silence of its length, so the
# rest keeps its time and the output its length (ffmpeg's decode drops them).
size=$(stat -c %s "$work/in.m4a")
cp "$work/in.m4a" "$work/damaged.m4a"
LC_ALL=C awk 'BEGIN {srand(7); for (i = 0; i < 3000; i++) printf "%c", int(rand() * 256)}' | dd of="$work/damaged.m4a" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
check "damaged AAC packets" runs 0 "frames" --mode 0 "$work/damaged.m4a" "$work/damaged-aac.wav"
check "the length is kept" test "$(ff -i "$work/damaged-aac.wav" -f s16le - | wc -c)" = "$(ff -i "$work/in.m4a" -f s16le - | wc -c)"
finish "host media"
