#!/usr/bin/env bash
# An internet radio station on this machine, with audio flowing: Icecast on a
# free local port with a configuration of its own, the README's Liquidsoap
# script (a playlist of tracks from -30 to -10 LUFS through the LADSPA plug-in
# to MP3 128 kbps and Ogg Vorbis mounts), and two ffmpeg listeners that record
# two minutes from the mounts. On the decoded recordings: the recording is the
# program the plug-in makes of the playlist (dsphost over the same tracks) in
# every second, without gap or repeat, and as long as the wall-clock time it
# took; the loudness spread of the tracks' spans against the playlist's; the
# true peak. Liquidsoap's log holds no lateness or catch-up warning. A second
# station without the plug-in runs alongside for the CPU comparison. First,
# the plug-in with no arguments in Liquidsoap against dsphost at the defaults.
#
# Debian's Liquidsoap finds LADSPA libraries only in /usr/lib/ladspa and
# /usr/local/lib/ladspa: the library goes into /usr/local/lib/ladspa for as
# long as the Liquidsoap processes take to load it, and the folder is put
# back as it was (a file of the same name saved and restored, the folder
# removed again if the test made it), on every exit.
#
# usage: station_test.sh BIN_DIR LADSPA_DIR TOOLS_DIR README WORK_DIR
set -u

# ---- The plug-in's settings for the station (symbol=code, as port_args takes
# them; the README's script must call the operator with exactly these). -------
enhancer_settings="enhance=2 loudness_target=1 tp_limit=1"
# Highest true peak allowed in the decoded recordings (dBTP): the ceiling's
# -1 dBTP plus what the lossy encoders add.
true_peak_limit=0.0
record_seconds=122
track_seconds=20
track_targets=(-30 -14 -22 -10 -26 -18)  # LUFS, in playlist order

bin=$1 ladspadir=$2 tools=$3 readme=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"
require liquidsoap liquidsoap icecast2 icecast2 ffmpeg ffmpeg sox sox python3 python3 flock util-linux
rm -rf "$work" && mkdir -p "$work/home" || exit 2
cd "$work" || exit 2
# Liquidsoap's GStreamer keeps a registry in the user's cache: keep it here.
export HOME="$PWD/home" XDG_CACHE_HOME="$PWD/home/cache"
rate=44100

# ---- The LADSPA folder: lock, save, put the library in, restore. --------------
system_dir=/usr/local/lib/ladspa
lib=dsp_redozer_ladspa.so
folder_state=absent
exec 9< /usr/local/lib  # held for the whole test: one such test at a time
flock -w 600 9 || { echo "FAIL another test holds $system_dir"; exit 2; }
snapshot() {
    stat -c '%n %a %U %y' "$(dirname "$system_dir")"
    [ -d "$system_dir" ] && (cd "$system_dir" && ls -la --time-style=full-iso && sha256sum ./* 2> /dev/null)
}
restore_folder() {
    case $folder_state in
        made) rm -f "$system_dir/$lib"; rmdir "$system_dir" ;;
        saved) mv -f "$work/saved-$lib" "$system_dir/$lib" ;;
        added) rm -f "$system_dir/$lib" ;;
    esac
    # The folders' own time stamps too.
    case $folder_state in
        made | saved | added)
            [ -d "$system_dir" ] && touch -r "$work/times-folder" "$system_dir"
            touch -r "$work/times-parent" "$(dirname "$system_dir")" ;;
    esac
    folder_state=restored
}
cleanup() { stop_started; restore_folder; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
snapshot > folder-before.txt
touch -r "$(dirname "$system_dir")" times-parent
[ -d "$system_dir" ] && touch -r "$system_dir" times-folder
if [ ! -d "$system_dir" ]; then
    mkdir -p "$system_dir" && folder_state=made
elif [ -e "$system_dir/$lib" ]; then
    mv "$system_dir/$lib" "$work/saved-$lib" && folder_state=saved
else
    folder_state=added
fi
cp "$ladspadir/$lib" "$system_dir/$lib" || exit 2

root_line=""
[ "$(id -u)" -eq 0 ] && root_line='settings.init.allow_root.set(true)'

# ---- 1. No arguments in Liquidsoap = dsphost at the defaults. -----------------
"$bin/make_sample" sample.wav 6 > /dev/null || exit 2
mkdir -p cfg-defaults/dsp_redozer && "$tools/port_args" ini > cfg-defaults/dsp_redozer/dsp_redozer.ini
XDG_CONFIG_HOME="$PWD/cfg-defaults" "$bin/dsphost" --block 576 --bits float --quiet \
    --plugin "$bin/dsp_redozer.so" sample.wav ref-defaults.wav || exit 2
cat > defaults.liq << LIQ
$root_line
s = once(single("$PWD/sample.wav"))
s = ladspa.redozer_stereo(s)
clock.assign_new(sync="none", [s])
output.file(%wav(stereo, samplesize=16), "$PWD/lq-defaults-raw.wav", fallible=true, on_stop=shutdown, s)
LIQ
frames=$(soxi -s sample.wav)
# Runs while the tracks are made; checked below.
timeout 90 liquidsoap defaults.liq > lq-defaults.log 2>&1 &
defaults_pid=$!
started_pids+=($defaults_pid)

# ---- 2. The playlist: six different tracks at very different loudness. --------
loudness() {  # FILE [FFMPEG INPUT OPTIONS] -> integrated LUFS
    ffmpeg -nostdin -hide_banner -nostats "${@:2}" -i "$1" -af ebur128 -f null - 2>&1 |
        awk '/^ +I:/ {print $2; exit}'
}
: > playlist.m3u
for i in "${!track_targets[@]}"; do
    n=$((i + 1))
    "$tools/make_track" base$n.wav "$track_seconds" "$n" || exit 2
    gain=$(python3 -c "print(${track_targets[$i]} - ($(loudness base$n.wav)))")
    ffmpeg -nostdin -v error -y -i base$n.wav -af "volume=${gain}dB" -c:a pcm_s16le track$n.wav || exit 2
    rm base$n.wav
    echo "$PWD/track$n.wav" >> playlist.m3u
done
# Liquidsoap's WAV header does not hold the length: read the data to its end.
# The plug-in's float output lies between the 16-bit steps; Liquidsoap's own
# conversion to 16 bits lands within one step of it and the reference's
# rounding within half a step, so the two may differ by two steps.
if wait $defaults_pid &&
    ffmpeg -nostdin -v error -y -ignore_length 1 -i lq-defaults-raw.wav \
        -af "apad=whole_len=$frames,atrim=end_sample=$frames" -c:a pcm_s16le lq-defaults.wav &&
    result=$("$tools/shift_compare" ref-defaults.wav lq-defaults.wav 576 2 2>&1); then
    ok "Liquidsoap ladspa.redozer_stereo(s) at its defaults = dsphost at the defaults: $result"
else
    fail "Liquidsoap at the defaults: ${result:-$(tail -5 lq-defaults.log)}"
fi
before=()
for n in $(seq ${#track_targets[@]}); do before+=("$(loudness track$n.wav)"); done
echo "     playlist loudness (LUFS): ${before[*]}"

# The program the station plays: the playlist twice (it loops) through the
# plug-in, as one stream; dsphost's set output is aligned with its input.
mkdir -p cfg-station/dsp_redozer program-in program-out
# shellcheck disable=SC2086
"$tools/port_args" ini $enhancer_settings > cfg-station/dsp_redozer/dsp_redozer.ini || exit 2
order=()
for pass in a b; do
    for n in $(seq ${#track_targets[@]}); do
        ln -sf "$PWD/track$n.wav" "program-in/$pass$n.wav"
        order+=("program-in/$pass$n.wav")
    done
done
XDG_CONFIG_HOME="$PWD/cfg-station" "$bin/dsphost" --block 576 --quiet -o program-out "${order[@]}" || exit 2
sox program-out/a*.wav program-out/b*.wav program.wav || exit 2

# ---- 3. The README's script, for this machine. ---------------------------------
sed -n '/<!-- station script begin -->/,/<!-- station script end -->/p' "$readme" | sed '1,2d;$d' | sed '$d' > readme-station.liq
# shellcheck disable=SC2086
want="ladspa.redozer_stereo($("$tools/port_args" liquidsoap $enhancer_settings), radio)"
if grep -qF "$want" readme-station.liq; then
    ok "the README's script calls $want"
else
    fail "the README's script does not call $want: $(grep ladspa readme-station.liq)"
fi
port=$(free_port)
password=$(python3 -c 'import secrets; print(secrets.token_hex(8))')
station_script() {  # MOUNT_PREFIX WITH_PLUGIN
    echo "$root_line"
    sed -e "s|/srv/radio/playlist.m3u|$PWD/playlist.m3u|" -e "s|host=\"localhost\"|host=\"127.0.0.1\"|" \
        -e "s|port=8000|port=$port|" -e "s|password=\"hackme\"|password=\"$password\"|" \
        -e "s|mount=\"radio\.|mount=\"$1.|" readme-station.liq |
        if [ "$2" = yes ]; then cat; else grep -v 'ladspa\.redozer'; fi
}
station_script radio yes > station.liq
station_script plain no > plain.liq

# ---- 4. Icecast, the two stations, the listeners. -------------------------------
mkdir -p icecast/log && chmod 0777 icecast/log
owner=""
[ "$(id -u)" -eq 0 ] && owner="<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
cat > icecast/icecast.xml << XML
<icecast>
  <location>test</location><admin>test@localhost</admin>
  <limits><clients>10</clients><sources>4</sources><queue-size>1048576</queue-size>
    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>
    <source-timeout>10</source-timeout><burst-on-connect>0</burst-on-connect><burst-size>0</burst-size></limits>
  <authentication><source-password>$password</source-password><relay-password>$password</relay-password>
    <admin-user>admin</admin-user><admin-password>$password</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <fileserve>0</fileserve>
  <paths><basedir>$PWD/icecast</basedir><logdir>$PWD/icecast/log</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></logging>
  <security><chroot>0</chroot>$owner</security>
</icecast>
XML
icecast2 -c icecast/icecast.xml > icecast/stdout.log 2>&1 &
started_pids+=($!)
wait_port "$port" 10 || { echo "FAIL Icecast did not listen on port $port: $(cat icecast/stdout.log icecast/log/error.log 2> /dev/null)"; exit 1; }

# A station gets the processor when it needs it, as on a station's server:
# the test measures whether the plug-in keeps up, not the load of the machine.
priority=()
[ "$(id -u)" -eq 0 ] && priority=(nice -n -10)
"${priority[@]}" liquidsoap station.liq > station.log 2>&1 &
station_pid=$!
started_pids+=($station_pid)
"${priority[@]}" liquidsoap plain.liq > plain.log 2>&1 &
plain_pid=$!
started_pids+=($plain_pid)

# The mounts Icecast lists (its status page).
mounts() {
    python3 -c 'import json, sys, urllib.request
s = json.load(urllib.request.urlopen(sys.argv[1], timeout=5))["icestats"].get("source", [])
for m in s if isinstance(s, list) else [s]: print(m["listenurl"].rsplit("/", 1)[1])' \
        "http://127.0.0.1:$port/status-json.xsl" 2> /dev/null | sort | tr '\n' ' '
}
for _ in $(seq 120); do
    [ "$(mounts)" = "plain.mp3 plain.ogg radio.mp3 radio.ogg " ] && break
    sleep 0.25
done
# Both stations have loaded the library: the folder goes back now.
restore_folder
if diff folder-before.txt <(snapshot) > /dev/null; then
    ok "$system_dir is as the test found it"
else
    fail "$system_dir differs from before: $(diff folder-before.txt <(snapshot))"
fi
[ "$(mounts)" = "plain.mp3 plain.ogg radio.mp3 radio.ogg " ] ||
    { echo "FAIL the mounts did not come up ($(mounts)): $(tail -5 station.log plain.log)"; exit 1; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ticks=$(getconf CLK_TCK)
cpu0=$(cpu_ticks $station_pid) plain0=$(cpu_ticks $plain_pid) t0=$(date +%s.%N)
# MP3: ffmpeg decodes RECORD_SECONDS of audio; the wall-clock time it takes is
# measured. Ogg: the stream's bytes are copied for RECORD_SECONDS of
# wall-clock time and libvorbisfile (sox) decodes them: ffmpeg 5.1's own Ogg
# demuxer drops or repeats some 128 frames where a chained stream starts a
# new logical stream, which Liquidsoap's Vorbis encoder does at every track
# (and ffmpeg's data copy loses what it holds when stopped).
record_mp3() {
    local start end
    start=$(date +%s.%N)
    ffmpeg -nostdin -v error -y -i "http://127.0.0.1:$port/radio.mp3" -t "$record_seconds" -c:a pcm_s16le rec-mp3.wav &&
        end=$(date +%s.%N) && python3 -c "print($end - $start)" > rec-mp3.wav.wall
}
record_ogg() {
    python3 -c 'import sys, time, urllib.request
url, seconds, out, wall = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
start = time.time()
with urllib.request.urlopen(url, timeout=10) as stream, open(out, "wb") as f:
    while time.time() - start < seconds:
        f.write(stream.read1(4096))
open(wall, "w").write(str(time.time() - start))' "http://127.0.0.1:$port/radio.ogg" "$record_seconds" rec.ogg rec-ogg.wav.wall
    sox -V1 -t ogg - -b 16 rec-ogg.wav < rec.ogg
}
record_mp3 &
mp3_pid=$!
record_ogg &
ogg_pid=$!
wait $mp3_pid; wait $ogg_pid
cpu1=$(cpu_ticks $station_pid) plain1=$(cpu_ticks $plain_pid) t1=$(date +%s.%N)
cpu_with=$(python3 -c "print(round(100 * ($cpu1 - $cpu0) / $ticks / ($t1 - $t0), 1))")
cpu_without=$(python3 -c "print(round(100 * ($plain1 - $plain0) / $ticks / ($t1 - $t0), 1))")
echo "     CPU of one core: Liquidsoap with the plug-in $cpu_with %, without $cpu_without %"
stop_started

# ---- 5. The log, continuity, length, loudness, true peak. -----------------------
if late=$(grep -i -E 'catch ?up|too late|late by|underrun|overrun' station.log plain.log); then
    fail "Liquidsoap reports lateness: $late"
else
    ok "Liquidsoap's logs hold no lateness or catch-up warning"
fi
spread() { python3 -c "import sys; v = [float(x) for x in sys.argv[1:]]; print(round(max(v) - min(v), 2))" "$@"; }
track_frames=$((track_seconds * rate))
for codec in mp3 ogg; do
    rec=rec-$codec.wav
    [ -s "$rec" ] || { fail "$codec: nothing recorded"; continue; }
    if align=$("$tools/stream_align" program.wav "$rec" 90 0.9); then
        ok "$codec: every second is the program at one offset: $align"
    else
        fail "$codec: the recording is not the program throughout (gap, repeat or jump): $align"
        continue
    fi
    offset=${align#offset=}
    offset=${offset%% *}
    length=$(python3 -c "print($(soxi -s "$rec") / $rate)")
    wall=$(cat "$rec.wall")
    if python3 -c "import sys; sys.exit(0 if $length >= $record_seconds - 1.5 and abs($wall - $length) < 3 else 1)"; then
        ok "$codec: $length s recorded in $wall s of wall-clock time"
    else
        fail "$codec: $length s recorded in $wall s of wall-clock time"
    fi
    # Tracks whose whole span the recording holds.
    spans=() inputs=()
    for k in $(seq 0 11); do
        first=$((k * track_frames - offset))
        [ "$first" -ge 0 ] && [ $((first + track_frames)) -le "$(soxi -s "$rec")" ] || continue
        spans+=("$(loudness "$rec" -ss "$(python3 -c "print($first / $rate)")" -t "$track_seconds")")
        inputs+=("${before[$((k % ${#track_targets[@]}))]}")
    done
    if [ ${#spans[@]} -ge 4 ]; then
        b=$(spread "${inputs[@]}") a=$(spread "${spans[@]}")
        msg="$codec: ${#spans[@]} whole tracks, loudness ${spans[*]} LUFS: spread $a LU after, $b LU before"
        if python3 -c "import sys; sys.exit(0 if $a <= $b / 3 else 1)"; then ok "$msg"; else fail "$msg"; fi
    else
        fail "$codec: only ${#spans[@]} whole tracks recorded"
    fi
    peak=$(ffmpeg -nostdin -hide_banner -nostats -i "$rec" -af ebur128=peak=true -f null - 2>&1 |
        awk '/True peak:/ {s = 1} s && /^ +Peak:/ {print $2; exit}')
    if python3 -c "import sys; sys.exit(0 if $peak <= $true_peak_limit else 1)"; then
        ok "$codec: true peak after decoding $peak dBTP (limit $true_peak_limit)"
    else
        fail "$codec: true peak after decoding $peak dBTP above $true_peak_limit"
    fi
done
finish
