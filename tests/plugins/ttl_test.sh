#!/usr/bin/env bash
# The LV2 bundle's Turtle files against the LV2 schemas shipped by Debian
# (sord_validate), lilv's view of them (lv2ls, lv2info without warnings, the
# X11 UI in its own binary, the presets listed), and the LADSPA library through
# ladspa-sdk's analyseplugin.
# The README's copy of the port table must be what the generator prints.
# usage: ttl_test.sh LV2_DIR LADSPA_DIR GENERATOR README
set -u
lv2dir=$1 ladspadir=$2 generator=$3 readme=$4
bundle=$lv2dir/dsp_redozer.lv2
failed=0
fail() { echo "FAIL $*"; failed=$((failed + 1)); }

schemas=$(find /usr/lib/lv2/core.lv2 /usr/lib/lv2/units.lv2 /usr/lib/lv2/presets.lv2 \
               /usr/lib/lv2/port-props.lv2 /usr/lib/lv2/port-groups.lv2 /usr/lib/lv2/schemas.lv2 /usr/lib/lv2/ui.lv2 \
               /usr/lib/lv2/options.lv2 /usr/lib/lv2/atom.lv2 /usr/lib/lv2/urid.lv2 /usr/lib/lv2/resize-port.lv2 \
               /usr/lib/lv2/worker.lv2 -name '*.ttl')
# shellcheck disable=SC2086
if out=$(sord_validate $schemas "$bundle"/manifest.ttl "$bundle"/dsp_redozer.ttl "$bundle"/presets.ttl 2>&1); then
    echo "ok   sord_validate: ${out##*$'\n'}"
else
    fail "sord_validate: $out"
fi

export LV2_PATH="$lv2dir:/usr/lib/lv2"
plugins=$(lv2ls | grep '^urn:dsp-redozer:')
[ "$plugins" = $'urn:dsp-redozer:mono\nurn:dsp-redozer:stereo' ] || fail "lv2ls lists: $plugins"

for uri in urn:dsp-redozer:stereo urn:dsp-redozer:mono; do
    info=$(lv2info "$uri" 2> lv2info.err)
    if [ -s lv2info.err ] || [ -z "$info" ]; then
        fail "lv2info $uri: $(cat lv2info.err)"
    else
        echo "ok   lv2info $uri loads without warnings"
    fi
    grep -q 'Class: *Compressor Plugin' <<< "$info" || fail "$uri is not a compressor plug-in"
    grep -q 'Has latency: *yes' <<< "$info" || fail "$uri reports no latency port"
    # The UI: an X11 UI in a binary of its own inside the bundle.
    ui=$(sed -n '/^\s*UIs:/,/Binary:/p' <<< "$info")
    grep -q "urn:dsp-redozer:ui" <<< "$ui" && grep -q "Class: *http://lv2plug.in/ns/extensions/ui#X11UI" <<< "$ui" &&
        grep -q "Binary: *file://$(realpath "$bundle")/dsp_redozer_ui.so" <<< "$ui" &&
        [ -f "$bundle/dsp_redozer_ui.so" ] || fail "$uri names no X11 UI in the bundle: $ui"
    presets=$(sed -n '/Presets:/,/^$/p' <<< "$info" | grep -c -E '^\s+(Enhancer|Multiband): ')
    [ "$presets" -eq 19 ] || fail "$uri lists $presets presets, not 9 + 10"
    for name in 'Enhancer: Night' 'Enhancer: AC Radio' 'Multiband: 4 band intense 1' 'Multiband: Standard'; do
        grep -q "$name" <<< "$info" || fail "$uri misses preset $name"
    done
done

# The plug-in library holds no UI code: neither Xlib nor cairo.
if ldd "$bundle/dsp_redozer_lv2.so" | grep -qE 'libX11|libcairo'; then
    fail "the plug-in library links a UI library: $(ldd "$bundle/dsp_redozer_lv2.so")"
fi

export LADSPA_PATH="$ladspadir"
for label in redozer_stereo redozer_mono; do
    if out=$(analyseplugin "$ladspadir/dsp_redozer_ladspa.so" "$label" 2>&1) &&
        grep -q 'Hard Real-Time' <<< "$out" && grep -q '"latency" output, control' <<< "$out"; then
        echo "ok   analyseplugin $label"
    else
        fail "analyseplugin $label: $out"
    fi
done

if diff <("$generator" --markdown) <(sed -n '/<!-- port table begin -->/,/<!-- port table end -->/p' "$readme" | sed '1d;$d') > readme.diff; then
    echo "ok   the README's port table is current"
else
    fail "the README's port table differs from the generator's: $(cat readme.diff)"
fi

echo "$((failed == 0 ? 1 : 0)) passed, $failed failed"
[ "$failed" -eq 0 ]
