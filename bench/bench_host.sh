#!/usr/bin/env bash
# dsphost against plain tools on one generated recording, side by side in one
# run: a 10-minute, 44100 Hz, stereo, 16-bit WAV, with a warm cache. Each
# command runs once to warm up and then three times; the best time counts.
# Usage: bench_host.sh BIN_DIR WORK_DIR
#
# The multiband reference is ffmpeg's mcompand with the four-band setting of
# its manual (crossovers 100, 400, 1600 and 6400 Hz plus a top band, each
# with its own attack/decay and soft-knee transfer curve), a typical multiband
# compressor set-up comparable in work to the plug-in's four bands.
set -eu
bin=$1 work=$2
mkdir -p "$work"
export XDG_CONFIG_HOME="$work/profile"   # the plug-in's defaults, whatever the user has
mkdir -p "$XDG_CONFIG_HOME"
in="$work/in.wav"
[ -s "$in" ] || "$bin/make_sample" "$in" 600
mcompand='0.005,0.1 6 -47/-40,-34/-34,-17/-33 100 | 0.003,0.05 6 -47/-40,-34/-34,-17/-33 400 | 0.000625,0.0125 6 -47/-40,-34/-34,-15/-33 1600 | 0.0001,0.025 6 -47/-40,-34/-34,-31/-31,-0/-30 6400 | 0,0.025 6 -38/-31,-28/-28,-0/-25 22000'

best() {  # best NAME COMMAND... : prints the best wall time of three runs in seconds
  local name=$1; shift
  "$@" >/dev/null 2>&1 || { echo "bench-host: $name failed" >&2; exit 1; }
  local b="" i t0 t1 t
  for i in 1 2 3; do
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  printf '%s' "$b"
}

sox_t=$(best "sox copy" sox "$in" "$work/sox.wav")
m1_t=$(best "dsphost mode 1" "$bin/dsphost" -q --mode 1 "$in" "$work/m1.wav")
ff_t=$(best "ffmpeg mcompand" ffmpeg -nostdin -y -v error -i "$in" -af "mcompand='$mcompand'" "$work/ff.wav")
m2_t=$(best "dsphost mode 2" "$bin/dsphost" -q --mode 2 "$in" "$work/m2.wav")
alim_t=$(best "ffmpeg alimiter" ffmpeg -nostdin -y -v error -i "$in" -af "alimiter=limit=0.891:level=false" "$work/alim.wav")
m2s_t=$(best "dsphost mode 2 with the output stage" "$bin/dsphost" -q --mode 2 --target -16 --true-peak -1 "$in" "$work/m2s.wav")
tp_t=$(best "dsphost ceiling alone" "$bin/dsphost" -q --mode 0 --true-peak -1 "$in" "$work/tp.wav")
m1r_t=$(best "dsphost mode 1 with report" "$bin/dsphost" -q --mode 1 --report "$work/r1.json" "$in" "$work/m1r.wav")
m2r_t=$(best "dsphost mode 2 with report" "$bin/dsphost" -q --mode 2 --report "$work/r2.json" "$in" "$work/m2r.wav")
m0r_t=$(best "dsphost mode 0 with report" "$bin/dsphost" -q --mode 0 --report "$work/r0.json" "$in" "$work/m0r.wav")

# Lossy libraries: MP3 to MP3 and M4A to M4A, dsphost at -16 LUFS under
# -1 dBTP beside ffmpeg's loudnorm with the same aims, one pass and two (the
# second pass given the first's measurement), same encoder settings.
mp3="$work/in.mp3" m4a="$work/in.m4a"
[ -s "$mp3" ] || ffmpeg -nostdin -y -v error -i "$in" -c:a libmp3lame -q:a 2 "$mp3"
[ -s "$m4a" ] || ffmpeg -nostdin -y -v error -i "$in" -c:a aac -b:a 256k "$m4a"
loudnorm_two_pass() {  # loudnorm_two_pass IN OUT CODEC_OPTIONS...
  local from=$1 to=$2; shift 2
  local m; m=$(ffmpeg -nostdin -v info -i "$from" -af loudnorm=I=-16:TP=-1:print_format=json -f null - 2>&1 |
    sed -n '/^{/,/^}/p' | tr -d ' \n\t"')
  local v; v=$(sed 's/.*input_i:\([^,]*\),input_tp:\([^,]*\),input_lra:\([^,]*\),input_thresh:\([^,]*\),.*target_offset:\([^,}]*\).*/measured_I=\1:measured_TP=\2:measured_LRA=\3:measured_thresh=\4:offset=\5/' <<<"$m")
  ffmpeg -nostdin -y -v error -i "$from" -af "loudnorm=I=-16:TP=-1:$v:linear=true" -ar 44100 "$@" "$to"
}
mp3_t=$(best "dsphost mp3" "$bin/dsphost" -q --mode 2 --target -16 --true-peak -1 "$mp3" "$work/out.mp3")
mp3n_t=$(best "loudnorm mp3" ffmpeg -nostdin -y -v error -i "$mp3" -af loudnorm=I=-16:TP=-1 -ar 44100 -c:a libmp3lame -q:a 2 "$work/ln.mp3")
mp3n2_t=$(best "loudnorm two-pass mp3" loudnorm_two_pass "$mp3" "$work/ln2.mp3" -c:a libmp3lame -q:a 2)
m4a_t=$(best "dsphost m4a" "$bin/dsphost" -q --mode 2 --target -16 --true-peak -1 "$m4a" "$work/out.m4a")
m4an_t=$(best "loudnorm m4a" ffmpeg -nostdin -y -v error -i "$m4a" -af loudnorm=I=-16:TP=-1 -ar 44100 -c:a aac -b:a 256k "$work/ln.m4a")
m4an2_t=$(best "loudnorm two-pass m4a" loudnorm_two_pass "$m4a" "$work/ln2.m4a" -c:a aac -b:a 256k)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '10-minute 44100 Hz stereo 16-bit WAV, best of 3, warm cache (%s cores)\n' "$(nproc)"
printf '  %-38s %7.3f s\n' "sox in.wav out.wav" "$sox_t" "dsphost --mode 1" "$m1_t" \
  "ffmpeg -af mcompand (4 bands + top)" "$ff_t" "dsphost --mode 2" "$m2_t" \
  "dsphost --mode 1 --report" "$m1r_t" "dsphost --mode 2 --report" "$m2r_t" \
  "ffmpeg -af alimiter (-1 dBFS)" "$alim_t" "dsphost --mode 0 --true-peak -1" "$tp_t" \
  "dsphost --mode 2 --target --true-peak" "$m2s_t" \
  "dsphost --mode 0 --report (meters)" "$m0r_t"
printf '  %-38s %7.3f s\n' "dsphost MP3 -> MP3 (mode 2, -16, -1)" "$mp3_t" \
  "ffmpeg loudnorm MP3 -> MP3" "$mp3n_t" "ffmpeg loudnorm two-pass MP3 -> MP3" "$mp3n2_t" \
  "dsphost M4A -> M4A (mode 2, -16, -1)" "$m4a_t" \
  "ffmpeg loudnorm M4A -> M4A" "$m4an_t" "ffmpeg loudnorm two-pass M4A -> M4A" "$m4an2_t"
printf 'mode 1 / sox copy:          %s  (aim: at most 1.3)\n' "$(ratio "$m1_t" "$sox_t")"
printf 'mode 2 / ffmpeg mcompand:   %s  (aim: at most 0.2)\n' "$(ratio "$m2_t" "$ff_t")"
printf 'mode 1 report / no report:  %s  (aim: at most 1.1)\n' "$(ratio "$m1r_t" "$m1_t")"
printf 'mode 2 report / no report:  %s  (aim: at most 1.1)\n' "$(ratio "$m2r_t" "$m2_t")"
printf 'mode 2 output stage / none: %s  (aim: at most 1.15)\n' "$(ratio "$m2s_t" "$m2_t")"
