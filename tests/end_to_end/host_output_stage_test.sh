#!/usr/bin/env bash
# The output stage through dsphost and the real plug-in library:
# 1. a set's outputs are the raw stream (--delay keep) shifted by exactly the
#    delay dsphost reports, for the engines with and without the stage;
# 2. generated pieces levelled from -30 to -10 LUFS, played as one set, come
#    out at the target under the ceiling, by libebur128 and by ffmpeg.
# Usage: host_output_stage_test.sh BIN_DIR WAV_TOOL MAKE_MUSIC WORK_DIR
set -u
bin_dir=$1 wav_tool=$2 make_music=$3 work=$4/host-output-stage
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile" "$work/tmp"
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile" TMPDIR="$work/tmp"
host="$work/bin/dsphost"
source "$(dirname "$0")/checks.sh"
frames() { "$wav_tool" frames "$1"; }

# ---- 1. The delay taken out of a set is exact to the frame -------------------
# Two pieces, hot enough for the ceiling to work; the first lasts a whole
# number of 576-frame blocks, so that the set and the joined file see the same
# blocks, the second does not.
"$make_music" "$work/a-long.wav" 3.2 1 -9
sox "$work/a-long.wav" "$work/a.wav" trim 0 $((576 * 240))s
"$make_music" "$work/b.wav" 2.3 2 -12
sox "$work/a.wav" "$work/b.wav" "$work/ab.wav"
total=$(frames "$work/ab.wav")
# The engine, the expected delay at 44100 Hz, the options.
while read -r name expected options; do
  out="$work/set-$name" && rm -rf "$out" && mkdir -p "$out"
  message=$("$host" $options --delay keep "$work/ab.wav" "$work/raw-$name.wav" 2>&1)
  delay=$(sed -n 's/.*engine.s delay of \([0-9]*\) frames.*/\1/p' <<<"$message")
  delay=${delay:-0}
  check "$name: dsphost reports a delay of $expected frames (got $delay)" test "$delay" = "$expected"
  "$host" -q $options -o "$out" "$work/a.wav" "$work/b.wav"
  sox "$out/a.wav" "$out/b.wav" "$work/set-$name.wav"
  sox "$work/set-$name.wav" "$work/set-head-$name.wav" trim 0 $((total - delay))s
  sox "$work/raw-$name.wav" "$work/raw-shifted-$name.wav" trim ${delay}s
  check "$name: the set is the raw stream shifted by $delay frames" \
    "$wav_tool" compare "$work/set-head-$name.wav" "$work/raw-shifted-$name.wav"
  check "$name: the set's outputs keep their inputs' lengths" \
    test "$(frames "$out/a.wav") $(frames "$out/b.wav")" = "$(frames "$work/a.wav") $(frames "$work/b.wav")"
done <<'EOF'
classic 0 --mode 1
multiband 882 --mode 2
classic_stage 88 --mode 1 --target -16 --true-peak -1
multiband_stage 970 --mode 2 --target -16 --true-peak -1
stage_alone 88 --mode 0 --true-peak -1
EOF

# ---- 2. A set from -30 to -10 LUFS at the target ---------------------------------
levels=(-22 -10 -30 -14 -26 -18)
inputs=()
for i in "${!levels[@]}"; do
  "$make_music" "$work/piece$i.wav" 60 $((20 + i)) "${levels[$i]}"
  inputs+=("$work/piece$i.wav")
done
for mode in 0 1 2; do
  out="$work/levelled-$mode" && rm -rf "$out" && mkdir -p "$out"
  "$host" -q --mode $mode --target -16 --true-peak -1 --report "$work/report-$mode.json" -o "$out" "${inputs[@]}"
  # Per file: integrated loudness within 1 LU of the target, true peak at most
  # -1 dBTP, nothing at full scale; in modes 1 and 2 a spread of at most 0.5 LU.
  spread_limit=$([ $mode = 0 ] && echo 99 || echo 0.5)
  check "mode $mode: every piece at -16 LUFS within 1 LU, at most -1 dBTP, no full scale" \
    python3 - "$work/report-$mode.json" "$spread_limit" <<'PYEOF'
import json, sys
report = json.load(open(sys.argv[1])); limit = float(sys.argv[2])
ok = True
for f in report["files"]:
    a = f["after"]
    line = "  %s: %.2f LUFS, %.2f dBTP, %d at full scale" % (f["output"].split("/")[-1], a["integrated_lufs"], a["true_peak_dbtp"], a["full_scale_samples"])
    print(line)
    ok &= abs(a["integrated_lufs"] + 16) <= 1.0 and a["true_peak_dbtp"] <= -1.0 and a["full_scale_samples"] == 0
print("  spread %.2f LU (limit %s)" % (report["spread_after_lu"], limit))
ok &= report["spread_after_lu"] <= limit
sys.exit(0 if ok else 1)
PYEOF
  # ffmpeg's own true-peak meter on every output.
  worst=$(for f in "$out"/*.wav; do
    ffmpeg -hide_banner -nostats -i "$f" -af ebur128=peak=true -f null - 2>&1 |
      sed -n '/Summary/,$ s/^ *Peak: *\(-*[0-9.]*\) dBFS.*/\1/p' | tail -1
  done | sort -g | tail -1)
  check "mode $mode: ffmpeg reads at most -1.0 dBTP (highest $worst)" \
    python3 -c "import sys; sys.exit(0 if float('$worst') <= -1.0 else 1)"
done

finish "output stage through dsphost"
