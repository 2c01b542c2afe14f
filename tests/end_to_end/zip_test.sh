#!/usr/bin/env bash
# The zip for copying the plug-in by hand: the build's DLL and a README.txt in
# Windows line ends, nothing else.
# Usage: zip_test.sh ZIP DLL VERSION WORK_DIR
set -u
zip=$1 dll=$2 version=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

check "zip file named after the version" test "$(basename "$zip")" = "dsp_redozer-$version-win32.zip"
check "zip is intact" unzip -tqq "$zip"
check "zip holds the DLL and README.txt at its top, nothing else" \
  test "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "README.txt dsp_redozer.dll "
unzip -q "$zip" -d "$work"
check "DLL is the build's" cmp -s "$work/dsp_redozer.dll" "$dll"
readme=$work/README.txt
lines=$(tr -cd '\n' < "$readme" | wc -c)
crlf=$(grep -c $'\r$' "$readme")
check "README.txt has lines" test "$lines" -gt 20
check "every README.txt line ends in CR LF" test "$crlf" -eq "$lines"
check "README.txt ends with a line end" test "$(tail -c 2 "$readme" | od -An -c | tr -d ' ')" = '\r\n'
check "README.txt names the version" grep -q "$version" "$readme"
# What to do with the file, where the settings live, and the licence.
for text in 'Plugins' 'Preferences > Plug-ins > DSP/Effect' 'dsp_redozer.ini' '%APPDATA%\dsp_redozer' \
            'zb_local.ini' 'Licence' 'freeware'; do
  check "README.txt mentions $text" grep -qF -- "$text" "$readme"
done
finish "zip"
