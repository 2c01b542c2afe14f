#!/bin/bash
# The real obs binary under Xvfb, in a private home and configuration: it loads
# the module from the build folder (OBS_PLUGINS_PATH), lists it in its log,
# loads a scene collection whose source carries the filter with settings of
# its own, quits cleanly when its main window is closed, and saves the filter
# and its settings back into the collection.
#   obs_app_test.sh MODULE_DIR CLOSE_WINDOW_PROGRAM WORK_DIR
set -u
module_dir=$1 close_window=$2 work=$3
rm -rf "$work"
mkdir -p "$work/home" "$work/config/obs-studio/basic/scenes" "$work/data" "$work/run"
chmod 700 "$work/run"
fail() { echo "FAIL: $*"; tail -40 "$work/obs.log"; exit 1; }

# A collection of one media source with the filter on it; no first-run wizard.
cat > "$work/config/obs-studio/global.ini" <<INI
[General]
FirstRun=true
[Basic]
Profile=Test
ProfileDir=Test
SceneCollection=Test
SceneCollectionFile=Test
INI
cat > "$work/config/obs-studio/basic/scenes/Test.json" <<JSON
{"name": "Test", "current_scene": "Scene", "current_program_scene": "Scene",
 "scene_order": [{"name": "Scene"}],
 "sources": [
  {"id": "scene", "versioned_id": "scene", "name": "Scene", "settings": {"items": [{"name": "Music", "id": 1, "visible": true}], "id_counter": 1}},
  {"id": "ffmpeg_source", "versioned_id": "ffmpeg_source", "name": "Music", "settings": {},
   "filters": [{"id": "redozer_audio_enhancers", "versioned_id": "redozer_audio_enhancers",
                "name": "Enhancers",
                "settings": {"enhance": 2, "loudness_target": true, "target_lufs": -14.0,
                             "band2_threshold": -3.5}}]}
 ]}
JSON

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/home/.cache \
       XDG_DATA_HOME=$work/home/.local/share XDG_RUNTIME_DIR=$work/run \
       OBS_PLUGINS_PATH=$module_dir OBS_PLUGINS_DATA_PATH=$work/data

# obs in the background, the window closed once startup is complete.
xvfb-run -a bash -c '
    obs --disable-shutdown-check --disable-updater > "$1/obs.log" 2>&1 &
    obs=$!
    for i in $(seq 600); do
        grep -q "Startup complete" "$1/obs.log" && break
        kill -0 $obs 2>/dev/null || break
        sleep 0.1
    done
    sleep 1
    "$2" "OBS " 60
    timeout 60 tail --pid=$obs -f /dev/null
    if kill -0 $obs 2>/dev/null; then kill -KILL $obs; echo "obs did not quit" >> "$1/obs.log"; exit 124; fi
    wait $obs' _ "$work" "$close_window"
status=$?

[ $status -eq 0 ] || fail "obs exited with status $status"
grep -q '\[redozer-obs\] audio filter "yarq.s Audio Enhancers" (redozer_audio_enhancers) registered' \
    "$work/obs.log" || fail "the module's filter is not in the log"
grep -q '^info: *redozer-obs.so$' "$work/obs.log" || fail "redozer-obs.so is not among the loaded modules"
grep -q "Shutting down" "$work/obs.log" || fail "no orderly shutdown in the log"
grep -q "Number of memory leaks: 0" "$work/obs.log" || fail "obs reports memory leaks"
saved=$work/config/obs-studio/basic/scenes/Test.json
python3 - "$saved" <<'PY' || fail "the saved collection lost the filter or its settings"
import json, sys
sources = json.load(open(sys.argv[1]))["sources"]
music = next(s for s in sources if s["name"] == "Music")
f = next(f for f in music["filters"] if f["id"] == "redozer_audio_enhancers")
s = f["settings"]
assert s["enhance"] == 2 and s["loudness_target"] is True, s
assert s["target_lufs"] == -14.0 and s["band2_threshold"] == -3.5, s
PY
echo "obs loaded the module, kept the filter's settings and quit cleanly"
rm -rf "$work"
