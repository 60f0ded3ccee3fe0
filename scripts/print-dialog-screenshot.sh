#!/usr/bin/env bash
# Makes docs/screenshots/print-dialog.png: a real application's Print
# dialog (the GTK text editor l3afpad) choosing the Miravo printer, under
# Xvfb against a private print system. Needs root and a build in build/.
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
PREFIX="$SOURCE/build"
OUT="$SOURCE/docs/screenshots/print-dialog.png"
[ "$(id -u)" = 0 ] || { echo "print-dialog-screenshot: needs root (the print system)" >&2; exit 1; }
[ -x "$PREFIX/lib/cups/backend/miravo" ] || { echo "print-dialog-screenshot: build first" >&2; exit 1; }

DIR=$(mktemp -d /tmp/miravo-shot-XXXXXX)
chmod 755 "$DIR"
PIDS=()
cleanup() {
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null || true; sleep 0.3; done
  rm -rf "$DIR"
}
trap cleanup EXIT

source "$SOURCE/tests/printmon/cups/private_cupsd.sh"
start_private_cupsd "$DIR" "$PREFIX" >/dev/null 2>&1
PIDS+=("$CUPSD_PID")
"$SOURCE/scripts/add-printer.sh" --ppd "$PREFIX/share/ppd/miravo/miravo.ppd" >/dev/null
lpadmin -d Miravo   # the dialog opens with the default printer chosen

exec 5> >(cat > "$DIR/display")
Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x900x24 >/dev/null 2>&1 &
PIDS+=($!)
exec 5>&-
for _ in $(seq 100); do [ -s "$DIR/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$DIR/display")"

printf 'Dear Sir or Madam,\n\nplease find the signed order attached.\n' > "$DIR/letter.txt"
l3afpad "$DIR/letter.txt" >/dev/null 2>&1 </dev/null &
PIDS+=($!)
editor=$(xdotool search --sync --onlyvisible --name 'letter.txt' | head -1)
xdotool windowfocus --sync "$editor" key ctrl+p
dialog=$(xdotool search --sync --onlyvisible --name '^Print$' | head -1)
sleep 3   # the printer list fills in from the print system
mkdir -p "$(dirname "$OUT")"
import -window "$dialog" "$OUT"
echo "print-dialog-screenshot: $OUT"
