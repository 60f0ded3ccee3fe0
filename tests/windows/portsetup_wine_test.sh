#!/usr/bin/env bash
# Runs MiravoPortSetup.exe under Wine in a fresh, temporary prefix and reads
# back what it registered:
#   1. first run, monitor library missing: the spooler refuses the monitor,
#      yet the port value "Miravo:" (REG_SZ) is written and the exit code is 0;
#   2. run with arguments, monitor library present: the arguments change
#      nothing, the spooler now accepts "Miravo Local Port" with the library
#      "MiravoLocalMon.dll", and a stale port value is rewritten;
#   3. run again with the monitor installed: exit 0, value written again;
#   4. the stored value is exactly REG_SZ with one zero byte;
#   5. the port key cannot be created: exit 0 all the same, nothing written.
#
# usage: portsetup_wine_test.sh EXE BUILT STUB_MONITOR_DLL VOLATILE_KEY_EXE
#   BUILT is 1 when the MinGW-w64 compiler was found at configure time.
#   MIRAVO_WINE64 (environment) names the wine64 to use instead of Debian's.
# Exit codes: 0 pass, 1 fail, 77 skipped (CTest SKIP_RETURN_CODE).
set -uo pipefail

exe=$1 built=$2 stub_monitor=$3 volatile_key=$4

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

[ "$built" = 1 ] || skip "x86_64-w64-mingw32-g++ was not found when the build was configured," \
  "so MiravoPortSetup.exe was not built (scripts/setup.sh installs g++-mingw-w64-x86-64)"
for f in "$exe" "$stub_monitor" "$volatile_key"; do
  [ -f "$f" ] || fail "$f was not built although the MinGW-w64 compiler is present"
done

# MIRAVO_WINE64 may name another Wine. Debian installs the 64-bit loader as
# /usr/lib/wine/wine64, off the PATH.
if [ -n "${MIRAVO_WINE64:-}" ]; then
  wine=$MIRAVO_WINE64
  [ -x "$wine" ] || skip "MIRAVO_WINE64=$wine is not an executable"
else
  wine=$(command -v wine64 || true)
  [ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }
  [ -n "$wine" ] || skip "wine64 not found (Debian packages wine and wine64; scripts/setup.sh installs them)"
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || skip "wineserver not found next to $wine nor on the PATH"

started=$(now)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/miravo-portsetup.XXXXXX") || fail "cannot create a temporary folder"
cleanup() {
  [ -d "$tmp/prefix" ] && "$wineserver" -k >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT

# A headless, quiet Wine of its own: no desktop, no menu entries, no offer to
# download Mono or Gecko, nothing written outside the temporary folder.
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all HOME=$tmp/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$tmp/work"
# Wine also loads libraries from the current folder: keep it empty.
cd "$tmp/work" || fail "cannot enter $tmp/work"

monitors='HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors'
monitor="$monitors\\Miravo Local Port"
ports="$monitor\\Ports"

reg() { "$wine" reg "$@" 2>/dev/null | tr -d '\r'; }
# has_value KEY NAME TYPE DATA: the key holds the value with exactly this data
# ("reg query" prints "    name    type    data").
has_value() {
  reg query "$1" /v "$2" | grep -Eq "^[[:space:]]+$2[[:space:]]+$3[[:space:]]*$4\$"
}
run_setup() {
  local rc
  timeout 120 "$wine" "$exe" "$@" </dev/null
  rc=$?
  [ $rc = 124 ] && fail "MiravoPortSetup.exe $* did not end within 120 s"
  [ $rc = 0 ] || fail "MiravoPortSetup.exe $* exited with $rc, expected 0"
}
make_stale() {
  reg add "$ports" /v Miravo: /t REG_SZ /d stale /f >/dev/null
  has_value "$ports" Miravo: REG_SZ stale || fail "could not prepare a stale port value"
}

step=$(now)
"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot -i failed in $WINEPREFIX"
"$wineserver" -w
echo "prefix created in $(since "$step")"

# The fresh prefix knows the monitors but not ours, so whatever appears
# below was registered by MiravoPortSetup.
"$wine" reg query "$monitors" >/dev/null 2>&1 || fail "cannot read $monitors in the fresh prefix"
"$wine" reg query "$monitor" >/dev/null 2>&1 && fail "the fresh prefix already holds $monitor"

echo "-- run 1: monitor library missing"
run_setup
has_value "$ports" Miravo: REG_SZ "" || fail "after run 1, $ports has no empty REG_SZ value Miravo:"
has_value "$monitor" Driver REG_SZ '.*' &&
  fail "Wine accepted a monitor whose library is missing; run 1 no longer shows that a refused monitor is ignored"

echo "-- run 2: arguments given, monitor library present"
cp "$stub_monitor" "$WINEPREFIX/drive_c/windows/system32/MiravoLocalMon.dll" || fail "cannot install the stub monitor"
make_stale
run_setup /remove --port COM1: "two words"
has_value "$monitor" Driver REG_SZ MiravoLocalMon.dll ||
  fail "the spooler did not register \"Miravo Local Port\" with the library MiravoLocalMon.dll"
has_value "$ports" Miravo: REG_SZ "" || fail "after run 2, the port value Miravo: was not rewritten"

echo "-- run 3: monitor already installed"
make_stale
run_setup
has_value "$ports" Miravo: REG_SZ "" || fail "after run 3, the port value Miravo: was not rewritten"
has_value "$monitor" Driver REG_SZ MiravoLocalMon.dll || fail "after run 3, the monitor registration is gone"

# "reg query" shows a one-byte REG_SZ like an empty string. The registry file
# that wineserver saves on exit keeps the bytes: hex(1):00 is type 1 (REG_SZ)
# with the single byte 00; two zero bytes would be saved as "".
"$wineserver" -w
saved=$(PORTS_KEY='system\\currentcontrolset\\control\\print\\monitors\\miravo local port\\ports' awk '
  /^\[/ { inside = index(tolower($0), "[" ENVIRON["PORTS_KEY"] "]") == 1; next }
  inside && index($0, "\"Miravo:\"=") == 1 { print substr($0, 11) }
' "$WINEPREFIX/system.reg")
[ "$saved" = "hex(1):00" ] || fail "Miravo: is saved as '${saved:-nothing}', expected hex(1):00 (REG_SZ, one zero byte)"

echo "-- run 4: the port key cannot be created"
# Beneath a volatile key no lasting key may be created. Volatile keys live as
# long as the wineserver, which is kept running until this step ends.
"$wineserver" -p || fail "cannot keep the wineserver running"
reg delete "$monitor" /f >/dev/null
"$wine" reg query "$monitor" >/dev/null 2>&1 && fail "could not delete $monitor"
timeout 120 "$wine" "$volatile_key" 'SYSTEM\CurrentControlSet\Control\Print\Monitors\Miravo Local Port' ||
  fail "could not create a volatile $monitor"
run_setup
"$wine" reg query "$monitor" >/dev/null 2>&1 || fail "the volatile $monitor vanished"
"$wine" reg query "$ports" >/dev/null 2>&1 && fail "$ports was created beneath a volatile key"
"$wineserver" -k
"$wineserver" -w

echo "PASS: MiravoPortSetup registered its port under Wine ($(since "$started") in all)"
