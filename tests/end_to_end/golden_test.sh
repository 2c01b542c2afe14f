#!/usr/bin/env bash
# The plug-in's output, sample for sample, against checksums recorded from an
# earlier build: every engine mode, the equalizer on and off, every built-in
# preset of both pages, non-default enhancer settings, sample rates from 8000
# to 192000 Hz, mono and stereo, and host block sizes from 1 to 150000 frames.
# Any change to the engine that alters one output sample fails here.
#
# Usage: golden_test.sh BIN_DIR WAV_TOOL WORK_DIR CHECKSUM_FILE [--record]
# With --record the checksums of this build are written to CHECKSUM_FILE
# instead (only ever done on a build whose output is known to be right).
set -u
bin_dir=$1 wav_tool=$2 checksums=$4 record=${5:-}
# The settings folder must be an absolute path to count.
work=$(realpath -m "$3")/golden
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile/dsp_redozer" "$work/in" "$work/out"
# A private copy of the library: nothing beside the build's own copy (such as
# a local tag file) can change which settings file it reads.
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile"
ini="$work/profile/dsp_redozer/dsp_redozer.ini"
host="$work/bin/dsphost"

# ---- Inputs -------------------------------------------------------------------
"$bin_dir/make_sample" "$work/in/sample.wav" 8 >/dev/null || { echo "make_sample failed"; exit 1; }
for rate in 8000 22050 44100 48000 96000 192000; do
  for ch in 1 2; do
    "$wav_tool" levels "$work/in/levels-$rate-$ch.wav" "$rate" "$ch" $((rate * 2)) ||
      { echo "wav_tool levels failed"; exit 1; }
  done
done
# Long enough for one 150000-frame block and then some.
"$wav_tool" levels "$work/in/long-1.wav" 44100 1 200000 || exit 1
"$wav_tool" levels "$work/in/long-2.wav" 44100 2 200000 || exit 1

# ---- Settings files -----------------------------------------------------------
default_multi1="m---f00300f03000f00000------------l020s025"
default_multi2="----m067u051d088t046m067u051d085t051m045u051d085t012m022u058d085t009----------------"
default_limiter="l-s---th240re040ce300kn055ra201at025ho000"

# The nine built-in enhancer/equalizer preset records:
# width,hpcutoff,amp_max,amp_up,amp_dwn,threshold,mode,f1,f2,f3,g1,g2,g3
eq_presets=(
  "040,040,056,092,079,019,1,00100,01000,10000,050,050,050"
  "020,042,044,075,078,041,1,00100,01000,10000,050,050,050"
  "000,047,022,058,081,000,1,00100,01000,10000,050,050,050"
  "040,035,078,109,080,058,3,00100,01000,08000,050,060,040"
  "000,000,056,083,066,100,1,00100,01000,10000,050,050,050"
  "020,046,067,093,082,013,1,00100,01000,10000,050,050,050"
  "000,000,078,000,039,100,1,00100,01000,10000,050,050,050"
  "000,000,078,029,082,026,1,00100,01000,10000,050,050,050"
  "000,000,078,029,082,026,2,00100,01000,10000,050,080,050"
)
# The nine built-in multiband presets (21..29): multi1|multi2|limiter.
mb_presets=(
  "m---f00300f04000f00000------------l020s020|----m044u051d088t046m045u051d085t051m045u047d085t020m022u058d085t009----------------|l-s---th240re040ce300kn055ra201at025ho000"
  "m---f00300f04000f00000------------l020s020|----m045u037d088t046m045u037d085t051m045u037d085t017m022u058d085t009----------------|l-----th270re080ce300kn030ra201at025ho000"
  "m---f00250f02000f05000------------l020s020|----m056u055d090t049m056u055d085t051m045u051d085t026m033u049d085t020----------------|l-s---th255re040ce300kn040ra201at025ho000"
  "ma--f00250f02200f05000------------l014s025|----m045u063d090t046m045u059d085t053m045u050d085t042m044u045d085t030----------------|l-h---th260re046ce300kn040ra201at025ho000"
  "ma--f00250f01600f05000------------l014s025|----m017u071d087t056m017u084d081t050m017u076d077t038m017u065d074t031----------------|l-h---th280re050ce300kn020ra201at016ho000"
  "m---f00120f00500f04500------------l016s020|----m056u060d088t051m056u054d088t053m055u046d088t043m044u041d088t016----------------|l-s---th255re046ce300kn050ra201at020ho000"
  "m---f00400f00000f00000------------l020s020|----m045u058d088t061m055u058d088t047m067u058d090t039m067u057d088t020----------------|l-----th260re060ce300kn050ra201at030ho000"
  "m---f03000f05000f00000------------l020s020|----m033u033d090t020m044u033d090t051m055u033d090t072m078u054d090t073----------------|------th255re024ce300kn035ra201at030ho000"
  "m---f00250f04500f00000------------l020s020|----m045u053d090t061m045u053d090t017m045u053d090t030m045u051d090t026----------------|--s---th255re024ce300kn035ra201at030ho000"
)

# settings KEY=VALUE... : writes a settings file with the defaults and the
# given changes. Keys: enhance width hp max up dwn thr eqon eq eqf m1 m2 lim.
settings() {
  local enhance=1 width=20 hp=0 max=56 up=70 dwn=76 thr=79 eqon=0
  local eq=050,050,050 eqf=00100,01000,10000
  local m1=$default_multi1 m2=$default_multi2 lim=$default_limiter
  local kv
  for kv in "$@"; do local "$kv"; done
  printf '[zobrin dsp]\nenhance=%s\nstereo_width=%s\nhpcutoff=%s\namp_max=%s\namp_up=%s\namp_dwn=%s\nthreshold=%s\ntab_sel=0\neq_enable=%s\neq=%s\neq_f=%s\nenh_multi1=%s\nenh_multi2=%s\nenh_limiter=%s\n' \
    "$enhance" "$width" "$hp" "$max" "$up" "$dwn" "$thr" "$eqon" "$eq" "$eqf" "$m1" "$m2" "$lim" >"$ini"
}

# The settings a built-in enhancer preset sets, as applying it on the page does.
eq_preset() {
  local IFS=,
  # shellcheck disable=SC2206
  local f=($1)
  settings width=$((10#${f[0]})) hp=$((10#${f[1]})) max=$((10#${f[2]})) up=$((10#${f[3]})) \
    dwn=$((10#${f[4]})) thr=$((10#${f[5]})) enhance=$(( (10#${f[6]}) & 1 )) \
    eqon=$(( ((10#${f[6]}) >> 1) & 1 )) eqf="${f[7]},${f[8]},${f[9]}" eq="${f[10]},${f[11]},${f[12]}"
}

mb_preset() {  # mb_preset "multi1|multi2|limiter" [KEY=VALUE...]
  local m1=${1%%|*} rest=${1#*|}
  local m2=${rest%%|*} lim=${rest#*|}
  shift
  settings enhance=2 "m1=$m1" "m2=$m2" "lim=$lim" "$@"
}

# ---- Cases ----------------------------------------------------------------------
declare -a names=() sums=()
failures=0
run() {  # run NAME INPUT BLOCK : processes INPUT with the current settings file
  local name=$1 input=$work/in/$2.wav block=$3 out=$work/out/$1.wav
  if ! "$host" --quiet --block "$block" "$input" "$out"; then
    echo "FAILED: $name: dsphost failed"; failures=$((failures + 1)); return
  fi
  if [ "$("$wav_tool" frames "$out")" != "$("$wav_tool" frames "$input")" ]; then
    echo "FAILED: $name: frame count changed"; failures=$((failures + 1)); return
  fi
  names+=("$name")
  sums+=("$("$wav_tool" raw "$out" | sha256sum | cut -d' ' -f1)")
}
# Beyond the engine's rates the block must come back untouched.
unchanged() {  # unchanged NAME INPUT
  if ! "$wav_tool" compare "$work/in/$2.wav" "$work/out/$1.wav"; then
    echo "FAILED: $1: a block above 96000 Hz was changed"; failures=$((failures + 1))
  fi
}

# The music-like sample, player's block size: every preset and setting.
rm -f "$ini"
run sample.no-settings-file sample 576
settings; run sample.defaults sample 576
settings enhance=0; run sample.mode0 sample 576
settings enhance=0 eqon=1 eq=030,060,080; run sample.mode0-eq sample 576
settings eqon=1 eq=020,050,090 eqf=00060,02500,12000; run sample.mode1-eq sample 576
settings enhance=2 eqon=1 eq=000,100,000; run sample.mode2-eq-ignored sample 576
for i in "${!eq_presets[@]}"; do eq_preset "${eq_presets[$i]}"; run "sample.eq-preset-$i" sample 576; done
settings enhance=2; run sample.multiband-default sample 576
for i in "${!mb_presets[@]}"; do mb_preset "${mb_presets[$i]}"; run "sample.multiband-preset-$((21 + i))" sample 576; done
settings width=0; run sample.width-0 sample 576
settings width=100; run sample.width-100 sample 576
settings width=255; run sample.width-255 sample 576
settings hp=1; run sample.hpcutoff-1 sample 576
settings hp=60; run sample.hpcutoff-60 sample 576
settings hp=255; run sample.hpcutoff-255 sample 576
settings thr=100; run sample.threshold-100 sample 576
settings thr=40; run sample.threshold-40 sample 576
settings thr=0 hp=30; run sample.threshold-0-hpcutoff-30 sample 576
settings max=100 up=100 dwn=0; run sample.fast-gain sample 576
settings max=0 up=0 dwn=100; run sample.slow-gain sample 576
settings max=255 up=255 dwn=255 thr=255; run sample.out-of-range sample 576
mb_preset "${mb_presets[3]}" "m1=mas-f00250f02200f05000------------l030s060"; run sample.multiband-level-stereo sample 576
mb_preset "${mb_presets[2]}" "m1=-a--f00250f02000f05000------------l020s020"; run sample.multiband-bands-off sample 576
mb_preset "${mb_presets[0]}" "lim=--h---th240re040ce300kn055ra201at025ho000"; run sample.multiband-limiter-off sample 576
mb_preset "${mb_presets[0]}" "lim=l-s---th200re010ce280kn000ra999at000ho050"; run sample.multiband-limiter-hold sample 576

# The settings file is read: the defaults written out give what no file gives,
# mode 0 passes the block through, mode 1 changes it.
same() { "$wav_tool" compare "$1" "$2" 2>/dev/null; }
if ! same "$work/out/sample.no-settings-file.wav" "$work/out/sample.defaults.wav"; then
  echo "FAILED: the default settings written to the file change the output"; failures=$((failures + 1))
fi
if ! same "$work/in/sample.wav" "$work/out/sample.mode0.wav"; then
  echo "FAILED: enhance=0 in the settings file did not pass the audio through"; failures=$((failures + 1))
fi
if same "$work/in/sample.wav" "$work/out/sample.defaults.wav"; then
  echo "FAILED: the default settings left the audio unchanged"; failures=$((failures + 1))
fi

# Every rate, mono and stereo, with the quiet/loud/silent/full-scale signal.
for rate in 8000 22050 44100 48000 96000 192000; do
  for ch in 1 2; do
    in=levels-$rate-$ch
    settings enhance=0 eqon=1 eq=010,050,090; run "$in.mode0-eq" "$in" 576
    settings hp=30; run "$in.mode1-hpcutoff-30" "$in" 576
    settings eqon=1 eq=080,030,050 thr=100 width=60; run "$in.mode1-eq" "$in" 576
    settings enhance=2; run "$in.multiband-default" "$in" 576
    mb_preset "${mb_presets[3]}"; run "$in.multiband-preset-24" "$in" 576
    if [ "$rate" -gt 96000 ]; then
      for c in mode0-eq mode1-hpcutoff-30 mode1-eq multiband-default multiband-preset-24; do
        unchanged "$in.$c" "$in"
      done
    fi
  done
done

# Host block sizes: the classic chain (equalizer, high-pass analysis, whose
# buffer a 150000-frame block overruns) and the multiband engine.
for block in 1 37 576 4096 150000; do
  for ch in 1 2; do
    in=long-$ch
    settings eqon=1 eq=030,070,040 hp=25 thr=60; run "$in.block-$block.mode1-eq-hpcutoff" "$in" "$block"
    settings thr=100; run "$in.block-$block.mode1-threshold-100" "$in" "$block"
    mb_preset "${mb_presets[3]}"; run "$in.block-$block.multiband-preset-24" "$in" "$block"
  done
done

# ---- Compare or record ---------------------------------------------------------------
if [ "$record" = "--record" ]; then
  : >"$checksums"
  for i in "${!names[@]}"; do echo "${sums[$i]}  ${names[$i]}" >>"$checksums"; done
  echo "recorded ${#names[@]} checksums in $checksums"
  exit $((failures > 0))
fi

declare -A expected=()
while read -r sum name; do
  [ -n "$name" ] && expected[$name]=$sum
done <"$checksums"
for i in "${!names[@]}"; do
  name=${names[$i]}
  if [ -z "${expected[$name]:-}" ]; then
    echo "FAILED: $name: no recorded checksum"; failures=$((failures + 1))
  elif [ "${expected[$name]}" != "${sums[$i]}" ]; then
    echo "FAILED: $name: output differs from the recorded output"; failures=$((failures + 1))
  fi
  unset "expected[$name]"
done
for name in "${!expected[@]}"; do
  echo "FAILED: $name: recorded but not run"; failures=$((failures + 1))
done
echo "golden outputs: ${#names[@]} runs, $failures failures"
[ "$failures" -eq 0 ]
