#!/usr/bin/env bash
# MiravoPortSetup.exe must run on a bare Windows: a 64-bit window-less GUI
# program whose imports are Windows' own DLLs only (kernel, C runtime,
# registry, spooler), never a MinGW runtime DLL, and which reaches the
# spooler and the registry through the calls it is meant to use.
#
# usage: portsetup_imports_test.sh EXE BUILT OBJDUMP
#   BUILT is 1 when the MinGW-w64 compiler was found at configure time.
#   OBJDUMP is x86_64-w64-mingw32-objdump, or empty when it was not found.
# Exit codes: 0 pass, 1 fail, 77 skipped (CTest SKIP_RETURN_CODE).
set -uo pipefail

exe=$1 built=$2 objdump=${3:-}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

[ "$built" = 1 ] || skip "x86_64-w64-mingw32-g++ was not found when the build was configured," \
  "so MiravoPortSetup.exe was not built (scripts/setup.sh installs g++-mingw-w64-x86-64)"
[ -n "$objdump" ] && [ -x "$objdump" ] ||
  skip "x86_64-w64-mingw32-objdump not found (Debian package binutils-mingw-w64-x86-64)"
[ -f "$exe" ] || fail "$exe was not built although the MinGW-w64 compiler is present"

headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"

grep -q 'file format pei-x86-64' <<<"$headers" || fail "$exe is not a 64-bit Windows program"
grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" ||
  fail "$exe is not a GUI-subsystem program (it would open a console window)"

# "DLL Name: X" starts each imported DLL; the lines after it until the next
# blank line list "<hint/name RVA> <hint> <function>".
imports=$(awk '
  /^[[:space:]]*DLL Name:/ { dll = toupper($3); print "dll " dll; next }
  /^[[:space:]]*$/         { dll = "" }
  dll != "" && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print "fn " dll " " $3 }
' <<<"$headers")

dlls=$(awk '$1 == "dll" { print $2 }' <<<"$imports")
[ -n "$dlls" ] || fail "no imported DLL found in the objdump output (unexpected format?)"
echo "imported DLLs:" $dlls

status=0
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL | MSVCRT.DLL | UCRTBASE.DLL | API-MS-WIN-CRT-*.DLL | ADVAPI32.DLL | WINSPOOL.DRV) ;;
    LIBGCC_S* | LIBSTDC++* | LIBWINPTHREAD*)
      echo "FAIL: imports the MinGW runtime DLL $dll (static linking is required)"; status=1 ;;
    *)
      echo "FAIL: imports $dll, which is not one of Windows' kernel, C runtime, registry or spooler DLLs"
      status=1 ;;
  esac
done

for want in "WINSPOOL.DRV AddMonitorW" "ADVAPI32.DLL RegCreateKeyW" \
            "ADVAPI32.DLL RegSetValueExW" "ADVAPI32.DLL RegCloseKey"; do
  grep -qx "fn $want" <<<"$imports" || { echo "FAIL: does not import ${want#* } from ${want%% *}"; status=1; }
done

[ $status = 0 ] && echo "PASS: $(basename "$exe") imports only Windows system DLLs"
exit $status
