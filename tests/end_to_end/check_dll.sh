#!/usr/bin/env bash
# Checks a Windows build of the plug-in: it exports winampDSPGetHeader2 alone,
# undecorated, and imports nothing but system libraries.
# Usage: check_dll.sh OBJDUMP DLL
set -u
objdump=$1 dll=$2
table=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{on=0}' <<<"$table")
imports=$(grep 'DLL Name:' <<<"$table" | awk '{print toupper($3)}' | sort -u)
echo "exports: $exports"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
status=0
if [ "$exports" != "winampDSPGetHeader2" ]; then
  echo "FAILED: the export table must list winampDSPGetHeader2 alone"
  status=1
fi
system='^(KERNEL32|USER32|GDI32|SHELL32|COMCTL32|MSVCRT|ADVAPI32|OLE32|UXTHEME|COMDLG32)\.DLL$|^API-MS-WIN-'
while read -r name; do
  [ -z "$name" ] && continue
  if ! grep -Eq "$system" <<<"$name"; then
    echo "FAILED: imports $name, which is not a system library"
    status=1
  fi
done <<<"$imports"
exit $status
