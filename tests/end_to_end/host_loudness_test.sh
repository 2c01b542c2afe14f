#!/usr/bin/env bash
# dsphost's loudness figures against known signals and against ffmpeg's own
# EBU R128 meter; the table, the JSON report and the picture.
# Usage: host_loudness_test.sh BIN_DIR WORK_DIR
set -u
bin_dir=$1 work=$2/host-loudness
rm -rf "$work" && mkdir -p "$work/bin" "$work/profile" "$work/out"
cp "$bin_dir/dsphost" "$bin_dir/dsp_redozer.so" "$bin_dir/make_sample" "$work/bin/"
export XDG_CONFIG_HOME="$work/profile"
host="$work/bin/dsphost"
source "$(dirname "$0")/checks.sh"

# json FILE EXPRESSION : evaluates a Python expression over the report r; fails unless true
json() {
  python3 - "$1" "$2" <<'EOF'
import json, math, sys
r = json.load(open(sys.argv[1]))
ok = eval(sys.argv[2])
if not ok:
    print("  not true: %s\n  in %s" % (sys.argv[2], json.dumps(r)[:600]))
sys.exit(0 if ok else 1)
EOF
}
# ffmpeg_measure FILE KEY : ffmpeg's summary value of I or LRA
ffmpeg_measure() {
  ffmpeg -nostdin -nostats -hide_banner -i "$1" -af ebur128 -f null - 2>&1 |
    awk -v key="$2:" '$1 == key { v = $2 } END { print v }'
}
near() {  # near A B TOLERANCE
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a != "" && b != "" && d <= t) }' ||
    { echo "  $1 and $2 differ by more than $3"; return 1; }
}

# ---- Reference signals ------------------------------------------------------
# A stereo 1 kHz sine at -23 dBFS reads -23.0 LUFS (EBU Tech 3341, first case).
sox -D -n -r 48000 -c 2 -b 16 "$work/sine.wav" synth 20 sine 1000 vol -23 dB
check "sine runs" "$host" -q --mode 0 --report "$work/sine.json" "$work/sine.wav" "$work/sine-out.wav"
check "sine: -23.0 LUFS" json "$work/sine.json" 'abs(r["files"][0]["before"]["integrated_lufs"] + 23.0) <= 0.1'
check "sine: -23 dBFS sample peak" json "$work/sine.json" 'abs(r["files"][0]["before"]["sample_peak_dbfs"] + 23.0) <= 0.01'
check "sine: true peak at the sample peak" json "$work/sine.json" 'abs(r["files"][0]["before"]["true_peak_dbtp"] + 23.0) <= 0.1'
check "sine: no loudness range" json "$work/sine.json" 'abs(r["files"][0]["before"]["lra_lu"]) <= 0.1'
check "sine: nothing at full scale" json "$work/sine.json" 'r["files"][0]["before"]["full_scale_samples"] == 0'
check "sine: mode 0 leaves it as it was" json "$work/sine.json" 'r["files"][0]["before"] == r["files"][0]["after"]'
# The same sine at half the level reads 6 LU lower.
sox -D -n -r 48000 -c 2 -b 16 "$work/sine29.wav" synth 20 sine 1000 vol -29 dB
"$host" -q --mode 0 --report "$work/sine29.json" "$work/sine29.wav" "$work/sine29-out.wav"
check "sine: -29.0 LUFS at -29 dBFS" json "$work/sine29.json" 'abs(r["files"][0]["before"]["integrated_lufs"] + 29.0) <= 0.1'

# Digital silence cannot be measured: null figures, no crash.
sox -D -n -r 44100 -c 2 -b 16 "$work/silence.wav" trim 0 5
out=$("$host" --loudness --report "$work/silence.json" "$work/silence.wav" "$work/silence-out.wav" 2>&1); status=$?
check "silence runs" test "$status" -eq 0
check "silence: null figures" json "$work/silence.json" \
  'all(r["files"][0][side][k] is None for side in ("before", "after") for k in ("integrated_lufs", "lra_lu", "sample_peak_dbfs", "true_peak_dbtp"))'
check "silence: no spread" json "$work/silence.json" 'r["spread_before_lu"] is None and r["spread_after_lu"] is None'
check "silence: dashes in the table" grep -Eq '^silence.wav +- +- +- +- +- +- +- +- +0 +0$' <<<"$out"

# Full-scale samples are counted one by one: 50 at +32767 and 30 at -32768.
python3 - "$work/clips.wav" <<'EOF'
import sys, wave, array, math
a = array.array('h', (int(8000 * math.sin(i * 0.05)) for i in range(2 * 44100)))
for i in range(50): a[1000 + 997 * i] = 32767
for i in range(30): a[1001 + 1009 * i] = -32768
w = wave.open(sys.argv[1], 'wb'); w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
w.writeframes(a.tobytes()); w.close()
EOF
"$host" -q --mode 0 --report "$work/clips.json" "$work/clips.wav" "$work/clips-out.wav"
check "full-scale count" json "$work/clips.json" 'r["files"][0]["before"]["full_scale_samples"] == 80'
check "full-scale peak" json "$work/clips.json" 'r["files"][0]["before"]["sample_peak_dbfs"] == 0.0'

# ---- Against ffmpeg's meter -------------------------------------------------
"$work/bin/make_sample" "$work/music.wav" 20
sox "$work/music.wav" "$work/music-quiet.wav" vol 0.2
check "a set with report" "$host" -q --report "$work/music.json" -o "$work/out" "$work/music.wav" "$work/music-quiet.wav"
i=0
for f in music music-quiet; do
  for side in before after; do
    file=$([ $side = before ] && echo "$work/$f.wav" || echo "$work/out/$f.wav")
    ours_i=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files'][$i]['$side']['integrated_lufs'])" "$work/music.json")
    ours_lra=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files'][$i]['$side']['lra_lu'])" "$work/music.json")
    check "$f $side: integrated agrees with ffmpeg ($ours_i)" near "$ours_i" "$(ffmpeg_measure "$file" I)" 0.2
    check "$f $side: range agrees with ffmpeg ($ours_lra)" near "$ours_lra" "$(ffmpeg_measure "$file" LRA)" 1.0
  done
  i=$((i + 1))
done
check "spread is max - min" json "$work/music.json" \
  'abs(r["spread_before_lu"] - abs(r["files"][0]["before"]["integrated_lufs"] - r["files"][1]["before"]["integrated_lufs"])) < 0.002 and abs(r["spread_after_lu"] - abs(r["files"][0]["after"]["integrated_lufs"] - r["files"][1]["after"]["integrated_lufs"])) < 0.002'

# ---- The report's shape -----------------------------------------------------
"$host" -q --mode 2 --set amp_max=70 --report "$work/shape.json" -o "$work/out" "$work/music.wav" >/dev/null
check "report is well-formed JSON" python3 -m json.tool "$work/shape.json" >/dev/null
check "report shape" json "$work/shape.json" \
  'set(r) >= {"files", "spread_before_lu", "spread_after_lu", "settings"} and all(set(f) >= {"input", "output", "before", "after"} and set(f["before"]) == {"integrated_lufs", "lra_lu", "sample_peak_dbfs", "true_peak_dbtp", "full_scale_samples"} for f in r["files"])'
check "report names the files" json "$work/shape.json" \
  'r["files"][0]["input"].endswith("/music.wav") and r["files"][0]["output"].endswith("/out/music.wav")'
check "report holds the settings used" json "$work/shape.json" \
  'r["settings"]["enhance"] == 2 and r["settings"]["amp_max"] == 70 and r["settings"]["enh_limiter"].startswith("l") and r["overrides"] == ["enhance=2", "amp_max=70"]'
check "report gives the delay taken out" json "$work/shape.json" 'r["delay_frames"] == 882'
# Names that need escaping in JSON.
cp "$work/music-quiet.wav" "$work/quote\"back\\slash.wav"
"$host" -q --report "$work/escape.json" -o "$work/out" "$work/quote\"back\\slash.wav"
check "file names are escaped" json "$work/escape.json" 'r["files"][0]["input"].endswith("quote\"back\\slash.wav")'

# ---- The table ---------------------------------------------------------------
table=$("$host" --loudness -o "$work/out" "$work/music.wav" "$work/music-quiet.wav" | grep -A4 'Integrated LUFS')
check "table rows line up" bash -c '[ $(awk "NR >= 2 && NR <= 4 { print length }" <<<"$1" | sort -u | wc -l) -eq 1 ]' _ "$table"
check "table lists both files" bash -c 'grep -q "^music.wav " <<<"$1" && grep -q "^music-quiet.wav " <<<"$1"' _ "$table"
check "table gives the spread" grep -q "^Spread of integrated loudness (max - min): before [0-9.]* LU, after [0-9.]* LU" <<<"$table"
check "--quiet leaves out the table" test -z "$("$host" -q -l -o "$work/out" "$work/music.wav")"

# ---- The picture ------------------------------------------------------------
check "png picture" "$host" -q --plot "$work/plot.png" -o "$work/out" "$work/music-quiet.wav" "$work/music.wav"
check "the picture is 1200 x 500 with both curves, the peaks and the boundary" python3 - "$work/plot.png" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', "not a PNG"
pos, idat, ihdr = 8, b'', None
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8]); body = data[pos + 8:pos + 8 + n]; pos += 12 + n
    if kind == b'IHDR': ihdr = struct.unpack('>IIBBBBB', body)
    if kind == b'IDAT': idat += body
w, h, depth, colour = ihdr[:4]
if (w, h) != (1200, 500): print("  size %dx%d" % (w, h)); sys.exit(1)
bpp = {2: 3, 6: 4}[colour]; raw = zlib.decompress(idat); stride = w * bpp
rows, prev = [], bytearray(stride)
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for x in range(stride):
        a = line[x - bpp] if x >= bpp else 0; b = prev[x]; c = prev[x - bpp] if x >= bpp else 0
        if f == 1: line[x] = (line[x] + a) & 255
        elif f == 2: line[x] = (line[x] + b) & 255
        elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line); prev = line
def count(rgb, x0=80, x1=1176, y0=78, y1=442):
    return sum(1 for y in range(y0, y1) for x in range(x0, x1)
               if all(abs(rows[y][x * bpp + k] - rgb[k]) <= 40 for k in range(3)))
before, after, peaks = count((89, 115, 191)), count((217, 84, 26)), count((140, 191, 140))
# The boundary between the two 20 s files is a dashed line at the middle.
mid = 80 + (1176 - 80) // 2
dashes = sum(1 for y in range(78, 442) for x in (mid - 1, mid, mid + 1) if rows[y][x * bpp] < 120 and abs(rows[y][x * bpp] - rows[y][x * bpp + 2]) < 10)
print("  pixels: before %d, after %d, peaks %d, boundary %d" % (before, after, peaks, dashes))
sys.exit(0 if before > 500 and after > 500 and peaks > 100 and dashes > 100 else 1)
EOF
check "svg picture" "$host" -q --plot "$work/plot.svg" -o "$work/out" "$work/music.wav"
check "the svg is well-formed and 1200 x 500" python3 -c '
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(0 if root.get("width").startswith("1200") and root.get("height").startswith("500") else 1)' "$work/plot.svg"
check "a silent file draws without curves" "$host" -q --plot "$work/silence.png" "$work/silence.wav" "$work/silence-out2.wav"
check "the silent picture exists" test -s "$work/silence.png"
check "an unwritable picture is refused first" bash -c \
  "! '$host' -q --plot '$work/no/such/folder/p.png' '$work/music.wav' '$work/never.wav' 2>/dev/null && [ ! -e '$work/never.wav' ]"

# --two-pass: two files 10 dB apart, each with a 10 dB step inside, and a
# quiet one with a short burst 20 dB louder every second (raised by 11 dB,
# the ceiling takes 3 dB off its bursts and with them 1 LU of its loudness
# unless the first pass allows for it), through the stage alone as one set;
# each lands on -16 LUFS with its range kept, and the report and table say
# that two passes were used.
sox -D -n -r 44100 -c 2 -b 16 "$work/tp-a.wav" synth 10 sine 1000 vol -20 dB : synth 10 sine 1000 vol -30 dB
sox -D -n -r 44100 -c 2 -b 16 "$work/tp-b.wav" synth 10 sine 500 vol -30 dB : synth 10 sine 500 vol -40 dB
sox -D -n -r 44100 -c 2 -b 16 "$work/tp-c1.wav" synth 0.99 sine 1000 vol -30 dB : synth 0.01 sine 1000 vol -10 dB
sox -D "$work/tp-c1.wav" "$work/tp-c.wav" repeat 19
mkdir -p "$work/tp"
out=$("$host" --two-pass --mode 0 --target -16 --true-peak -1 --report "$work/tp.json" -o "$work/tp" \
  "$work/tp-a.wav" "$work/tp-b.wav" "$work/tp-c.wav" 2>&1); status=$?
check "two passes run" test "$status" -eq 0
check "two passes: each file at -16 LUFS" json "$work/tp.json" \
  'all(abs(f["after"]["integrated_lufs"] + 16.0) <= 0.1 for f in r["files"])'
check "two passes: each file's range kept" json "$work/tp.json" \
  'all(abs(f["after"]["lra_lu"] - f["before"]["lra_lu"]) <= 0.2 for f in r["files"])'
check "two passes: the report says so" json "$work/tp.json" 'r["two_pass"] is True'
check "two passes: the table says so" grep -q "two passes" <<<"$out"
check "one pass: the report says so" json "$work/sine.json" 'r["two_pass"] is False'

finish "host loudness"
