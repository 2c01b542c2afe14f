#!/usr/bin/env bash
# The Debian package as `make deb` makes it (cpack -G DEB on the build's
# install rules): its control fields, its contents, lintian without errors,
# and the unpacked package at work in a scratch root.
# Usage: deb_test.sh NATIVE_BUILD WAV_TOOL VERSION WORK_DIR
set -u
build=$1 wav_tool=$2 version=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

# Into a folder of the test's own, not the release folder.
(cd "$build" && cpack -G DEB -B "$work/cpack" -D CPACK_OUTPUT_FILE_PREFIX="$work") > "$work/cpack.log" 2>&1
check "cpack makes the package" test $? -eq 0
arch=$(dpkg --print-architecture)
deb=$work/dsp-redozer_${version}_${arch}.deb
check "package file name" test -f "$deb"
[ -f "$deb" ] || { cat "$work/cpack.log"; finish deb; }

field() { dpkg-deb -f "$deb" "$1"; }
check "Package" test "$(field Package)" = dsp-redozer
check "Version" test "$(field Version)" = "$version"
check "Architecture" test "$(field Architecture)" = "$arch"
check "Maintainer is a name and an address" grep -qE '^[^<]+ <[^@ ]+@[^> ]+>$' <<<"$(field Maintainer)"
check "Description has a summary and a long text" test "$(field Description | wc -l)" -gt 3
# Dependencies computed from the shared libraries the binaries use.
depends=$(field Depends)
echo "Depends: $depends"
check "depends on libc6" grep -qE '(^|, )libc6 \(>= [0-9.]+\)' <<<"$depends"
check "depends on libsndfile1" grep -qE '(^|, )libsndfile1 \(>= [0-9.]+\)' <<<"$depends"
check "depends on FFmpeg's libavformat" grep -qE '(^|, )libavformat[0-9]+ \(>= [0-9:.~a-z+-]+\)' <<<"$depends"

# Contents: the programs, the plug-in, the page and the Debian documents.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/dsphost ./usr/lib/dsp_redozer/dsp_redozer.so ./usr/share/man/man1/dsphost.1.gz \
            ./usr/share/doc/dsp-redozer/copyright ./usr/share/doc/dsp-redozer/changelog.gz \
            ./usr/share/doc/dsp-redozer/README.md; do
  check "package holds $path" grep -qx -- "$path" <<<"$contents"
done
check "nothing outside /usr" test -z "$(grep -vE '^\./(usr/.*)?$' <<<"$contents")"
check "every file and folder belongs to root" \
  test -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')"
for path in ./usr/lib/lv2/dsp_redozer.lv2/manifest.ttl ./usr/lib/lv2/dsp_redozer.lv2/dsp_redozer.ttl \
            ./usr/lib/lv2/dsp_redozer.lv2/presets.ttl ./usr/lib/lv2/dsp_redozer.lv2/dsp_redozer_lv2.so \
            ./usr/lib/lv2/dsp_redozer.lv2/dsp_redozer_ui.so \
            ./usr/lib/ladspa/dsp_redozer_ladspa.so; do
  check "package holds $path" grep -qx -- "$path" <<<"$contents"
done

# The OBS module, where the build has it: in Debian's OBS plug-in folder, and
# without libobs among the dependencies (OBS brings it when it loads the module).
if [ -f "$build/obs/redozer-obs.so" ]; then
  check "package holds the OBS module" \
    grep -qx -- "./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/obs-plugins/redozer-obs.so" <<<"$contents"
  check "libobs is not a dependency" bash -c '! grep -q libobs <<<"$1"' _ "$depends"
  check "obs-studio is suggested" grep -q obs-studio <<<"$(field Suggests)"
fi

# lintian: no errors (warnings and notes are printed for the record).
lintian --fail-on error --tag-display-limit 0 -I "$deb" > "$work/lintian.log" 2>&1
status=$?
grep -v 'running with root privileges' "$work/lintian.log"
check "lintian reports no errors" test "$status" -eq 0 -a -z "$(grep -E '^E: ' "$work/lintian.log")"

# Unpacked into a scratch root, the installed dsphost processes a file with the
# packaged plug-in and gives the build's samples.
root=$work/root
dpkg -x "$deb" "$root"
for binary in usr/bin/dsphost usr/lib/dsp_redozer/dsp_redozer.so; do
  check "$binary is stripped" bash -c '! readelf -S "$1" | grep -q "\.symtab"' _ "$root/$binary"
done
"$wav_tool" make "$work/in.wav" 48000 2 40000
env -i PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/config" \
    "$root/usr/bin/dsphost" --quiet "$work/in.wav" "$work/packaged-out.wav"
check "packaged dsphost runs" test $? -eq 0
XDG_CONFIG_HOME="$work/config" "$build/bin/dsphost" --quiet "$work/in.wav" "$work/build-out.wav"
check "packaged dsphost gives the build's samples" \
  "$wav_tool" compare "$work/packaged-out.wav" "$work/build-out.wav"
page=$(LC_ALL=C man -l "$root/usr/share/man/man1/dsphost.1.gz" 2> /dev/null)
check "man page renders" grep -q '^NAME' <<<"$page"
check "man page names this version" grep -q "dsp-redozer $version" <<<"$page"

# The packaged LV2 bundle loads in a real LV2 host (lilv) from the scratch root.
uris=$(LV2_PATH="$root/usr/lib/lv2" lv2ls)
check "lv2ls finds both packaged plug-ins" \
  test "$(sort <<<"$uris" | tr '\n' ' ')" = "urn:dsp-redozer:mono urn:dsp-redozer:stereo "
for uri in urn:dsp-redozer:stereo urn:dsp-redozer:mono; do
  check "lv2info loads $uri without warnings" \
    bash -c 'LV2_PATH="$1" lv2info "$2" > /dev/null 2> "$3" && test ! -s "$3"' _ "$root/usr/lib/lv2" "$uri" "$work/lv2info.err"
done
check "analyseplugin reads the packaged LADSPA library" \
  bash -c 'analyseplugin "$1" | grep -q redozer_stereo' _ "$root/usr/lib/ladspa/dsp_redozer_ladspa.so"

finish "deb"
