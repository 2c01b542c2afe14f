#!/usr/bin/env bash
# Runs the configuration-dialog test program under Wine with a prefix of its
# own: run_ui_enhancer_test.sh SOURCE_DIR WIN32_BUILD_DIR WORK_DIR
# The library is copied into a folder of its own, so that the settings file and
# the tag file land there. Pictures (BMP, and PNG when ImageMagick is present)
# are kept in WORK_DIR/pictures.
set -euo pipefail
source_dir=$1
win32_dir=$2
work=$3

for f in "$win32_dir/bin/dsp_redozer.dll" "$win32_dir/bin/ui_test_enhancer.exe"; do
  if [ ! -f "$f" ]; then
    echo "missing $f: build the Windows library first (make windows)" >&2
    exit 1
  fi
done

mkdir -p "$work/plugin" "$work/pictures"
rm -f "$work/plugin/"* "$work/pictures/"*
cp "$win32_dir/bin/dsp_redozer.dll" "$work/plugin/"
cp "$win32_dir/bin/ui_test_enhancer.exe" "$work/"
# A settings folder in the profile would take the settings away from the library's folder.
rm -rf "$work"/wineprefix/drive_c/users/*/AppData/Roaming/dsp_redozer

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

status=0
"$source_dir/scripts/wine-run.sh" "$work" "$work/ui_test_enhancer.exe" \
  "$(windows_path "$work/plugin/dsp_redozer.dll")" "$(windows_path "$work/pictures")" || status=$?
WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true

if command -v convert >/dev/null 2>&1; then
  for bmp in "$work"/pictures/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" || true
  done
fi
exit $status
