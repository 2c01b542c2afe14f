#!/usr/bin/env bash
# `make install` as a user runs it (cmake --install with a prefix, staged under
# DESTDIR): the layout, the installed dsphost finding its plug-in in
# lib/dsp_redozer/, and the man page.
# Usage: install_test.sh NATIVE_BUILD WAV_TOOL OTHER_PLUGIN WORK_DIR
#   OTHER_PLUGIN: a library that is not the plug-in (a wrong header version),
#   to show which library dsphost picked.
set -u
build=$1 wav_tool=$2 other_plugin=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

root=$work/root prefix=/opt/dsp-redozer
DESTDIR=$root cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
top=$root$prefix

# Exactly these files, all under DESTDIR + PREFIX.
expected="bin/dsphost
lib/dsp_redozer/dsp_redozer.so
share/doc/dsp-redozer/LICENSE
share/doc/dsp-redozer/README.md
share/man/man1/dsphost.1.gz"
expected+="
lib/lv2/dsp_redozer.lv2/manifest.ttl
lib/lv2/dsp_redozer.lv2/dsp_redozer.ttl
lib/lv2/dsp_redozer.lv2/presets.ttl
lib/lv2/dsp_redozer.lv2/dsp_redozer_lv2.so
lib/lv2/dsp_redozer.lv2/dsp_redozer_ui.so
lib/ladspa/dsp_redozer_ladspa.so"
# The OBS module, where the build found libobs, in the multiarch plug-in folder.
obs_module=$(find "$build/obs" -maxdepth 1 -name redozer-obs.so 2> /dev/null)
multiarch=$(gcc -print-multiarch 2> /dev/null)
if [ -n "$obs_module" ]; then
  expected+="
lib/${multiarch:+$multiarch/}obs-plugins/redozer-obs.so"
fi
actual=$(cd "$root" && find . -type f -o -type l | sed "s|^\./${prefix#/}/||" | sort)
check "installed files are exactly the layout under the prefix" \
  test "$actual" = "$(sort <<<"$expected")"
[ "$actual" = "$(sort <<<"$expected")" ] || diff <(echo "$actual") <(sort <<<"$expected")
check "dsphost is executable" test -x "$top/bin/dsphost"
check "the plug-in is the build's" cmp -s "$top/lib/dsp_redozer/dsp_redozer.so" "$build/bin/dsp_redozer.so"
check "README is the project's" cmp -s "$top/share/doc/dsp-redozer/README.md" "$(dirname "$0")/../../README.md"

# The installed dsphost, with a clean environment and no --plugin, finds the
# plug-in in ../lib/dsp_redozer/ and gives the build's samples.
"$wav_tool" make "$work/in.wav" 44100 2 50000
(cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" XDG_CONFIG_HOME="$work/config" \
   "$top/bin/dsphost" --quiet in.wav installed-out.wav)
check "installed dsphost runs without --plugin" test $? -eq 0
XDG_CONFIG_HOME="$work/config" "$build/bin/dsphost" --quiet "$work/in.wav" "$work/build-out.wav"
check "installed dsphost gives the build's samples" \
  "$wav_tool" compare "$work/installed-out.wav" "$work/build-out.wav"

# A library beside dsphost comes first: another library placed there is the one loaded.
cp "$other_plugin" "$top/bin/dsp_redozer.so"
out=$(env -i PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/config" \
      "$top/bin/dsphost" --quiet "$work/in.wav" "$work/beside.wav" 2>&1); status=$?
check "a library beside dsphost is preferred" grep -q "$top/bin/dsp_redozer.so has DSP header version" <<<"$out"
check "and its failure is reported" test "$status" -eq 1
rm "$top/bin/dsp_redozer.so"

# Without the installed library there is nothing to load: a clear failure.
mv "$top/lib/dsp_redozer/dsp_redozer.so" "$work/moved.so"
env -i PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/config" \
    "$top/bin/dsphost" --quiet "$work/in.wav" "$work/none.wav" > "$work/none.log" 2>&1
check "without the library dsphost fails" test $? -eq 1
check "and writes no output" test ! -e "$work/none.wav"
mv "$work/moved.so" "$top/lib/dsp_redozer/dsp_redozer.so"

# The man page: `man dsphost` finds it through MANPATH and groff renders it
# without a warning.
page=$(MANPATH="$top/share/man" MANWIDTH=200 LC_ALL=C man -P cat dsphost 2>"$work/man-warnings.log")
check "man dsphost finds the page" test -n "$page"
check "the page has its sections" \
  bash -c 'for s in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS"; do grep -q "^$s" <<<"$1" || exit 1; done' _ "$page"
LC_ALL=C man --warnings -l "$top/share/man/man1/dsphost.1.gz" > /dev/null 2> "$work/man-lint.log"
check "groff renders the page without warnings" test ! -s "$work/man-lint.log"
cat "$work/man-lint.log"

# Every option that dsphost --help lists is documented in the page.
options=$("$top/bin/dsphost" --help | grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' | tr -d ' ,' | sort -u)
check "dsphost --help lists options" test -n "$options"
for option in $options; do
  check "man page documents $option" grep -qE -- "(^|[ ,])$option([ ,]|$)" <<<"$page"
done

finish "install"
