#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the layout a desktop
# program and its printer queue need, and prints through the queue from
# that prefix.
#   installed_layout_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
PREFIX=$(mktemp -d /tmp/miravo-prefix-XXXXXX)
trap 'rm -rf "$PREFIX"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
chmod 755 "$PREFIX"

expect() {  # MODE PATH...
  local mode=$1; shift
  for path in "$@"; do
    [ -e "$PREFIX/$path" ] || fail "$path is not installed"
    [ "$(stat -c %a "$PREFIX/$path")" = "$mode" ] || fail "$path has mode $(stat -c %a "$PREFIX/$path"), not $mode"
  done
}
expect 755 bin/miravo bin/miravo-send bin/miravo-print bin/miravo-server bin/miravo-render \
  bin/miravo-transmit sbin/miravo-add-printer
expect 700 lib/cups/backend/miravo
expect 644 share/ppd/miravo/miravo.ppd share/miravo/lang.ini share/miravo/images/en_logo.gif \
  share/applications/org.miravo.Miravo.desktop share/icons/hicolor/scalable/apps/org.miravo.Miravo.svg \
  share/metainfo/org.miravo.Miravo.metainfo.xml \
  share/icons/hicolor/48x48/apps/org.miravo.Miravo.png share/icons/hicolor/256x256/apps/org.miravo.Miravo.png \
  share/dbus-1/services/org.miravo.Miravo.service lib/systemd/user/org.miravo.Miravo.service \
  etc/xdg/autostart/miravo-waiting-jobs.desktop \
  share/man/man1/miravo.1.gz share/man/man1/miravo-send.1.gz share/man/man1/miravo-print.1.gz \
  share/man/man8/miravo-server.8.gz share/man/man8/miravo-add-printer.8.gz \
  share/man/man1/miravo-render.1.gz share/man/man1/miravo-transmit.1.gz \
  share/doc/miravo/copyright lib/miravo/miravo-images.so

# Every manual page reads without complaint.
for page in "$PREFIX"/share/man/man*/*.gz; do
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1 || true)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
if command -v cupstestppd >/dev/null; then
  cupstestppd -q "$PREFIX/share/ppd/miravo/miravo.ppd" || fail "the PPD does not conform"
fi
ENTRY=$PREFIX/share/applications/org.miravo.Miravo.desktop
AUTOSTART=$PREFIX/etc/xdg/autostart/miravo-waiting-jobs.desktop
if command -v desktop-file-validate >/dev/null; then
  for entry in "$ENTRY" "$AUTOSTART"; do
    desktop-file-validate "$entry" || fail "$entry is invalid"
  done
fi
# Software centres read the metadata; it must validate without a warning
# (pedantic remarks aside: the id is the bus name, capitals included) and
# name the installed desktop entry.
METAINFO=$PREFIX/share/metainfo/org.miravo.Miravo.metainfo.xml
if command -v appstreamcli >/dev/null; then
  report=$(appstreamcli validate --no-net --explain "$METAINFO" 2>&1) || fail "metainfo: $report"
  grep -qE '^[EWI]:' <<<"$report" && fail "metainfo: $report"
fi
grep -q '<launchable type="desktop-id">org.miravo.Miravo.desktop</launchable>' "$METAINFO" ||
  fail "the metadata does not launch the installed desktop entry"
# The desktop entries start an installed program; the program is started
# through the session bus, where the service file and the user unit name
# the installed program by its path.
for entry in "$ENTRY" "$AUTOSTART"; do
  entry_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$PREFIX/bin/$entry_program" ] || fail "$entry runs $entry_program, which is not installed"
done
grep -qx 'DBusActivatable=true' "$ENTRY" || fail "the desktop entry is not D-Bus activatable"
while IFS='|' read -r file line; do
  grep -qxF "$line" "$PREFIX/$file" || fail "$file lacks: $line"
done <<LINES
share/dbus-1/services/org.miravo.Miravo.service|Name=org.miravo.Miravo
share/dbus-1/services/org.miravo.Miravo.service|Exec=$PREFIX/bin/miravo --bus-service
share/dbus-1/services/org.miravo.Miravo.service|SystemdService=org.miravo.Miravo.service
lib/systemd/user/org.miravo.Miravo.service|BusName=org.miravo.Miravo
lib/systemd/user/org.miravo.Miravo.service|ExecStart=$PREFIX/bin/miravo --bus-service
LINES


# The installed programs find their program folder and each other.
"$PREFIX/lib/cups/backend/miravo" | grep -q '^direct miravo ' || fail "backend: no device line"
export XDG_CONFIG_HOME="$PREFIX/config" XDG_CACHE_HOME="$PREFIX/cache"
job=$("$PREFIX/bin/miravo-print" --no-launch --out "$PREFIX/spool" "$SOURCE/data/sample.pdf") ||
  fail "installed miravo-print cannot render"
"$PREFIX/bin/miravo-send" --convert-only "$job" >/dev/null || fail "installed miravo-send cannot convert"
# Images go through the image module in the private library folder.
job=$("$PREFIX/bin/miravo-print" --no-launch --out "$PREFIX/spool" "$SOURCE/data/icons/miravo-48.png") ||
  fail "installed miravo-print cannot take an image"
"$PREFIX/bin/miravo-send" --convert-only "$job" >/dev/null || fail "installed miravo-send cannot convert an image"

if [ "$(id -u)" = 0 ]; then
  bash "$SOURCE/tests/printmon/cups/print_queue_test.sh" "$PREFIX" "$SOURCE" "$BUILD" || fail "printing from the installed prefix"
fi
echo "installed layout: all checks passed"
