#!/bin/bash
# The shipped salvatrix.exe as Windows' loader sees it: a GUI program for Windows 7 (6.1) and
# later, stripped, with its manifest, and importing nothing that Windows 7 lacks (calls of
# later versions are looked up at run time with GetProcAddress).
#
#   pe_header_test.sh OBJDUMP SALVATRIX_EXE
set -u

fail() {
  echo "FAILED: $*"
  exit 1
}

[ $# -eq 2 ] || fail "usage: $0 OBJDUMP SALVATRIX_EXE"
objdump=$1
exe=$2
headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"

field() {
  awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"
}
for pair in MajorOSystemVersion:6 MinorOSystemVersion:1 MajorSubsystemVersion:6 \
            MinorSubsystemVersion:1 Subsystem:00000002; do
  name=${pair%%:*}
  want=${pair#*:}
  got=$(field "$name")
  echo "$name $got"
  [ "$got" = "$want" ] || fail "$name is $got, not $want"
done

# Stripped: no symbol table and no debug sections.
"$objdump" -f "$exe" | grep -q HAS_SYMS && fail "the program carries its symbols"
"$objdump" -h "$exe" | grep -q '\.debug' && fail "the program carries debug sections"

# Resource 1 of type RT_MANIFEST (24), and what it must ask for.
awk '/Entry: ID: 0x000018/ { manifest = 1; next } manifest && /Entry: ID: 0x000001/ { found = 1 }
     manifest && /^0[0-9a-f]+   Entry/ { manifest = 0 } END { exit !found }' <<<"$headers" ||
  fail "no manifest (RT_MANIFEST 1) among the resources"
for wanted in Microsoft.Windows.Common-Controls PerMonitorV2 true/pm \
              '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
  grep -qF -- "$wanted" "$exe" || fail "the manifest lacks $wanted"
done

# Imports: only the system's own DLLs of every version, and none of the calls that came after
# Windows 7 (the per-monitor DPI functions above all).
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
echo "imports from:" $dlls
for dll in $dlls; do
  case $dll in
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | msvcrt.dll | advapi32.dll | \
      shell32.dll | ole32.dll | oleaut32.dll | shlwapi.dll | rpcrt4.dll) ;;
    *) fail "imports $dll, which Windows 7 may not have" ;;
  esac
done
newer='GetDpiForWindow|GetDpiForSystem|GetDpiForMonitor|GetSystemMetricsForDpi|'
newer+='AdjustWindowRectExForDpi|SystemParametersInfoForDpi|SetProcessDpiAwarenessContext|'
newer+='SetThreadDpiAwarenessContext|GetThreadDpiAwarenessContext|EnableNonClientDpiScaling|'
newer+='SetProcessDpiAwareness|GetSystemTimePreciseAsFileTime|CreateFile2|PathCch[A-Za-z]*'
imported=$(sed -n '/DLL Name:/,/^$/p' <<<"$headers" | awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }')
late=$(grep -xE "$newer" <<<"$imported")
[ -z "$late" ] || fail "imports calls newer than Windows 7: $late"
echo "PASSED: $(wc -l <<<"$imported") imports, all of Windows 7; $(stat -c %s "$exe") bytes"
