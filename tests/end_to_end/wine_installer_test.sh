#!/usr/bin/env bash
# The Windows installer under 32-bit Wine, silent mode, in a private 32-bit
# prefix: finding the player's folder (its registry key, its uninstall entry,
# Program Files, /D=), install, upgrade from an older version, the version
# resource of the installed DLL, uninstall, the user's settings files left
# alone throughout, and a refusal that writes nothing when there is no player;
# then the pages as a user goes through them, with a picture of each in
# WORK_DIR/pictures. Needs a display (run under xvfb-run).
# Usage: wine_installer_test.sh SOURCE_DIR SETUP_EXE DLL VERSION PRODUCT PUBLISHER
#                               VERSION_INFO_TEST_EXE INSTALLER_WALK_EXE DSPHOST_EXE SAMPLE_WAV
#                               WORK_DIR
set -u
src=$1 setup=$2 dll=$3 version=$4 product=$5 publisher=$6 version_test=$7 walker=$8 dsphost=$9
sample=${10} work=${11}
mkdir -p "$work"
export WINEPREFIX="$work/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source "$(dirname "$0")/checks.sh"
source "$src/scripts/wine-loader.sh"
# The installer (NSIS) is a 32-bit program: on a kernel without 32-bit support
# there is nothing to run it with (exit 77, reported as skipped).
if ! wine_can_run_32bit; then
  echo "skipped: the installer is a 32-bit program and this kernel cannot run 32-bit programs (no IA-32 emulation), so 32-bit Wine cannot start"
  exit 77
fi

# The prefix is made once and kept (about 10 s); each run clears what it made.
(
  flock 9
  if [ ! -f "$WINEPREFIX/.redozer-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i > /dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.redozer-ready"
  fi
) 9> "$work/wineprefix.lock"
wineserver -p
trap 'wineserver -k 2> /dev/null' EXIT

C=$WINEPREFIX/drive_c
roaming=$(ls -d "$C"/users/*/AppData/Roaming 2> /dev/null | grep -v /Public/ | head -1)
[ -n "$roaming" ] || { echo "no roaming profile folder in the prefix"; exit 1; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\dsp_redozer'
player_key='HKCU\Software\Winamp'
player_uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp'

reg_value() {  # KEY NAME -> the value's data
  wine reg query "$1" /v "$2" 2> /dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }'
}
key_exists() { wine reg query "$1" > /dev/null 2>&1; }
no_key() { ! key_exists "$1"; }
forget_player() {
  wine reg delete "$player_key" /f > /dev/null 2>&1
  wine reg delete "$player_uninstall_key" /f > /dev/null 2>&1
  wine reg delete "$uninstall_key" /f > /dev/null 2>&1
}
fake_player() {  # FOLDER (below drive_c): winamp.exe (empty) and Plugins
  mkdir -p "$C/$1/Plugins" && : > "$C/$1/winamp.exe"
}
install() { wine "$@" > /dev/null 2>&1; }
# The uninstaller copies itself away, starts the copy and returns at once: wait
# until the copy has removed the original and the entry (at most 30 s).
wait_for_uninstall() {  # PLUGINS_FOLDER
  for _ in $(seq 1 60); do
    [ ! -e "$1/dsp_redozer-uninstall.exe" ] && no_key "$uninstall_key" && return
    sleep 0.5
  done
}
windows_path() { echo "Z:${1//\//\\}"; }
# Everything on drive C but Wine's own folder, to see what a run wrote.
drive_listing() { (cd "$C" && find . -path ./windows -prune -o -print | sort); }

forget_player
rm -rf "$C/Players" "$C/Empty" "$C/Program Files/Winamp" "$roaming/dsp_redozer" "$work/pictures"

# ---- The player found through its own key, with the user's settings ---------
fake_player Players/Winamp
plugins=$C/Players/Winamp/Plugins
wine reg add "$player_key" /ve /d 'C:\Players\Winamp' /f > /dev/null
printf '[zobrin dsp]\r\nenhance=2\r\namp_max=70\r\n' > "$plugins/dsp_redozer.ini"
: > "$plugins/zb_local.ini"
mkdir -p "$roaming/dsp_redozer"
printf '[zobrin dsp]\r\nenhance=1\r\n' > "$roaming/dsp_redozer/dsp_redozer.ini"
user_files=("$plugins/dsp_redozer.ini" "$plugins/zb_local.ini" "$roaming/dsp_redozer/dsp_redozer.ini")
user_sums=$(sha1sum "${user_files[@]}")
user_files_kept() { [ "$(sha1sum "${user_files[@]}" 2> /dev/null)" = "$user_sums" ]; }

# An older release first, built from the same script with another version
# number and another file standing for its DLL.
printf 'an older dsp_redozer.dll' > "$work/old.dll"
makensis -V1 -DVERSION=2.0.0 "-DPRODUCT=$product" "-DPUBLISHER=$publisher" "-DCOPYRIGHT=old" \
         -DHOMEPAGE=https://example.org/ "-DDLL=$work/old.dll" "-DLICENSE=$src/LICENSE" \
         "-DOUTFILE=$work/old-setup.exe" "$src/installer/dsp_redozer.nsi" > "$work/makensis.log" 2>&1
check "older installer builds" test $? -eq 0
install "$work/old-setup.exe" /S
check "older version installs" test $? -eq 0
check "older DLL in Plugins" cmp -s "$plugins/dsp_redozer.dll" "$work/old.dll"
check "entry names the older version" test "$(reg_value "$uninstall_key" DisplayVersion)" = 2.0.0

install "$setup" /S
check "installs over it" test $? -eq 0
check "DLL in Plugins is the build's, byte for byte" cmp -s "$plugins/dsp_redozer.dll" "$dll"
check "uninstaller beside the DLL" test -f "$plugins/dsp_redozer-uninstall.exe"
check "entry names this version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
check "entry's publisher" test "$(reg_value "$uninstall_key" Publisher)" = "$publisher"
check "entry's display name" grep -qF "$product $version" <<<"$(reg_value "$uninstall_key" DisplayName)"
check "entry's uninstall command" test "$(reg_value "$uninstall_key" UninstallString)" = \
  '"C:\Players\Winamp\Plugins\dsp_redozer-uninstall.exe"'
size=$(reg_value "$uninstall_key" EstimatedSize)
check "entry's size in KB matches the DLL" test "$((size))" -ge "$(($(stat -c %s "$dll") / 1024))"
check "settings files untouched by the upgrade" user_files_kept
check "player's files untouched" test -f "$C/Players/Winamp/winamp.exe" -a ! -s "$C/Players/Winamp/winamp.exe"

# The installed DLL's version resource, read back as Explorer reads it, and the
# installer's own.
wine "$version_test" 'C:\Players\Winamp\Plugins\dsp_redozer.dll' "$version" "$product" dsp_redozer.dll \
  > "$work/version-dll.log" 2>&1
check "installed DLL's version resource" test $? -eq 0
wine "$version_test" "Z:$(tr / '\\' <<<"$setup")" "$version" "$product" setup.exe > "$work/version-setup.log" 2>&1
check "installer's version resource" test $? -eq 0
grep FAILED "$work"/version-*.log

install "$setup" /S
check "installing the same version again" test $? -eq 0
check "still the build's DLL" cmp -s "$plugins/dsp_redozer.dll" "$dll"
check "settings files untouched by a reinstall" user_files_kept

# Uninstall the way Add/Remove Programs does: the entry's command, silently.
install 'C:\Players\Winamp\Plugins\dsp_redozer-uninstall.exe' /S
wait_for_uninstall "$plugins"
check "uninstall removes the DLL" test ! -e "$plugins/dsp_redozer.dll"
check "uninstall removes itself" test ! -e "$plugins/dsp_redozer-uninstall.exe"
check "uninstall removes the entry" no_key "$uninstall_key"
check "settings files survive the uninstall" user_files_kept
check "player's folder survives the uninstall" test -f "$C/Players/Winamp/winamp.exe" -a -d "$plugins"

# ---- Found through the player's uninstall entry (its key points nowhere) ------
forget_player
fake_player 'Players/Other Winamp'
wine reg add "$player_key" /ve /d 'C:\Players\Gone' /f > /dev/null
wine reg add "$player_uninstall_key" /v UninstallString /d '"C:\Players\Other Winamp\UninstWA.exe"' /f > /dev/null
install "$setup" /S
check "install through the player's uninstall entry" test $? -eq 0
check "DLL in that player's Plugins" cmp -s "$C/Players/Other Winamp/Plugins/dsp_redozer.dll" "$dll"
check "no Gone folder made" test ! -e "$C/Players/Gone"
install 'C:\Players\Other Winamp\Plugins\dsp_redozer-uninstall.exe' /S
wait_for_uninstall "$C/Players/Other Winamp/Plugins"
check "DLL removed" test ! -e "$C/Players/Other Winamp/Plugins/dsp_redozer.dll"
check "entry removed" no_key "$uninstall_key"

# ---- Found in Program Files when nothing is registered -----------------------
forget_player
fake_player 'Program Files/Winamp'
install "$setup" /S
check "install into Program Files\\Winamp" test $? -eq 0
check "DLL there" cmp -s "$C/Program Files/Winamp/Plugins/dsp_redozer.dll" "$dll"
check "entry points there" test "$(reg_value "$uninstall_key" InstallLocation)" = 'C:\Program Files\Winamp\Plugins'
install 'C:\Program Files\Winamp\Plugins\dsp_redozer-uninstall.exe' /S
wait_for_uninstall "$C/Program Files/Winamp/Plugins"
check "uninstalled from there" test ! -e "$C/Program Files/Winamp/Plugins/dsp_redozer.dll"
rm -rf "$C/Program Files/Winamp"

# ---- /D= wins over the registry -------------------------------------------------
forget_player
wine reg add "$player_key" /ve /d 'C:\Players\Winamp' /f > /dev/null
fake_player Players/Chosen
install "$setup" /S '/D=C:\Players\Chosen'
check "install with /D=" test $? -eq 0
check "DLL in the chosen folder" cmp -s "$C/Players/Chosen/Plugins/dsp_redozer.dll" "$dll"
check "not in the registered one" test ! -e "$plugins/dsp_redozer.dll"
# While a player holds the DLL (the Windows dsphost, kept waiting for its input
# on a pipe after loading it) it can be neither replaced nor deleted: the
# installer and the uninstaller say so and exit 2; the uninstaller keeps the
# entry, so that it can be run again later.
rm -rf "$work/held" && mkdir -p "$work/held/out" && mkfifo "$work/held/input"
(
  head -c 4096 "$sample"
  for _ in $(seq 1 200); do [ -e "$work/held/release" ] && break; sleep 0.1; done
  tail -c +4097 "$sample"
) > "$work/held/input" &
wine "$dsphost" --quiet --plugin 'C:\Players\Chosen\Plugins\dsp_redozer.dll' \
  "$(windows_path "$work/held/input")" "$(windows_path "$work/held/out/output.wav")" > /dev/null 2>&1 &
held_process=$!
# The host creates its unfinished output only after loading the plug-in.
for _ in $(seq 1 100); do [ -n "$(ls -A "$work/held/out")" ] && break; sleep 0.2; done
check "the host holds the installed DLL" test -n "$(ls -A "$work/held/out")"
# Replacing it fails too, and says so instead of reporting success with the
# old file left and the entry changed.
install "$work/old-setup.exe" /S '/D=C:\Players\Chosen'
check "install over the DLL in use exits 2" test $? -eq 2
check "the DLL in use is unchanged" cmp -s "$C/Players/Chosen/Plugins/dsp_redozer.dll" "$dll"
check "the entry still names the installed version" \
  test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
install 'C:\Players\Chosen\Plugins\dsp_redozer-uninstall.exe' /S '_?=C:\Players\Chosen\Plugins'
check "uninstall while the DLL is in use exits 2" test $? -eq 2
check "the DLL in use stays" test -f "$C/Players/Chosen/Plugins/dsp_redozer.dll"
check "so does the entry" key_exists "$uninstall_key"
: > "$work/held/release"
wait "$held_process"
check "the host finished" test $? -eq 0

# Synchronously (run in place, the uninstaller reports its exit code but
# cannot delete its own file).
install 'C:\Players\Chosen\Plugins\dsp_redozer-uninstall.exe' /S '_?=C:\Players\Chosen\Plugins'
check "uninstaller run in place exits 0" test $? -eq 0
check "it removed the DLL" test ! -e "$C/Players/Chosen/Plugins/dsp_redozer.dll"
check "and the entry" no_key "$uninstall_key"

# ---- The pages, as a user goes through them ----------------------------------
# The walker presses the default button on each page and types folders into
# the folder field; a picture of every page and message box is taken meanwhile.
wine reg add "$player_key" /ve /d 'C:\Players\Winamp' /f > /dev/null
mkdir -p "$C/Empty" "$work/pictures/install" "$work/pictures/uninstall"
(
  while :; do
    for ready in "$work"/pictures/*/page-*.ready; do
      [ -e "$ready" ] && [ ! -e "${ready%.ready}.done" ] || continue
      import -window root "${ready%.ready}.png" 2> /dev/null
      rm -f "$ready" && : > "${ready%.ready}.done"
    done
    sleep 0.1
  done
) &
photographer=$!

wine "$setup" > /dev/null 2>&1 &
setup_process=$!
wine "$walker" "$product $version Setup" "$(windows_path "$work/pictures/install")" \
  'C:\Empty' 'C:\Players\Winamp' > "$work/walk-install.log" 2>&1
check "walk through the installer's pages" test $? -eq 0
wait "$setup_process"
check "interactive installer exits 0" test $? -eq 0
walk=$(tr -d '\r' < "$work/walk-install.log")
check "licence page shows the licence" grep -q 'This software is freeware' <<<"$walk"
check "folder page offers the registered folder" grep -qF '[1019] C:\Players\Winamp' <<<"$walk"
check "a folder without winamp.exe is refused with a message" \
  grep -qE '^MESSAGE: The folder +C:\\Empty +holds no winamp.exe' <<<"$walk"
check "nothing written into the refused folder" test -z "$(ls -A "$C/Empty")"
check "installed into the folder typed next" cmp -s "$plugins/dsp_redozer.dll" "$dll"
check "last page says how to switch the plug-in on" grep -qF 'Preferences > Plug-ins > DSP/Effect' <<<"$walk"

wine 'C:\Players\Winamp\Plugins\dsp_redozer-uninstall.exe' > /dev/null 2>&1 &
wine "$walker" "$product $version Uninstall" "$(windows_path "$work/pictures/uninstall")" \
  > "$work/walk-uninstall.log" 2>&1
check "walk through the uninstaller's pages" test $? -eq 0
wait_for_uninstall "$plugins"
walk=$(tr -d '\r' < "$work/walk-uninstall.log")
check "uninstaller's last page says the settings stay" grep -q 'Your settings stay where they are' <<<"$walk"
check "interactive uninstall removes the DLL" test ! -e "$plugins/dsp_redozer.dll"
check "and the entry" no_key "$uninstall_key"
check "settings files survive the interactive round" user_files_kept
kill "$photographer" 2> /dev/null
wait "$photographer" 2> /dev/null
rm -f "$work"/pictures/*/page-*.done
rmdir "$C/Empty"

# ---- No player: refused, nothing written --------------------------------------
forget_player
mkdir -p "$C/Empty"
before=$(drive_listing)
install "$setup" /S
status=$?
check "silent install without a player fails" test "$status" -ne 0
install "$setup" /S '/D=C:\Empty'
status_d=$?
check "silent install into a folder without winamp.exe fails" test "$status_d" -ne 0
check "nothing written on drive C" test "$(drive_listing)" = "$before"
[ "$(drive_listing)" = "$before" ] || diff <(echo "$before") <(drive_listing) | head
check "no entry written" no_key "$uninstall_key"
check "settings files still there at the end" user_files_kept

forget_player
finish "installer under wine"
