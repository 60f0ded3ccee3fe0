#!/usr/bin/env bash
# The send dialog under a Wayland compositor: weston with its headless
# backend, the program on Qt's Wayland platform plugin. The printed sample
# is converted and the send dialog's window reaches the compositor with its
# title (read from the client's protocol log); the program keeps running.
#   wayland_send_dialog_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
command -v weston >/dev/null || { echo "skipped: weston missing"; exit 77; }
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  { echo "skipped: Qt's Wayland platform plugin missing"; exit 77; }

DIR=$(mktemp -d /tmp/miravo-wayland-XXXXXX)
chmod 700 "$DIR"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; tail -20 "$DIR/weston.log" 2>/dev/null; exit 1; }

export XDG_RUNTIME_DIR=$DIR HOME=$DIR/home XDG_CONFIG_HOME=$DIR/home/config XDG_CACHE_HOME=$DIR/home/cache
unset DISPLAY
mkdir -p "$XDG_CONFIG_HOME/Miravo"
# No service to reach: the version page on a closed loopback port.
{ printf '\xff\xfe'; printf '[OPTIONS]\r\nVERSION_HOST=127.0.0.1:9\r\n' | iconv -f UTF-8 -t UTF-16LE; } \
  > "$XDG_CONFIG_HOME/Miravo/app_config.ini"

weston --backend=headless-backend.so --width=1366 --height=768 --shell=kiosk-shell.so --socket=miravo-wayland --idle-time=0 \
  > "$DIR/weston.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -S "$DIR/miravo-wayland" ] && break; sleep 0.1; done
[ -S "$DIR/miravo-wayland" ] || fail "weston did not start"

job=$("$BUILD/bin/miravo-print" --no-launch --out "$DIR/spool" "$SOURCE/data/sample.pdf") ||
  fail "the sample could not be printed"
WAYLAND_DISPLAY=miravo-wayland QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client \
  "$BUILD/bin/miravo" "$job" > /dev/null 2> "$DIR/client.log" &
miravo=$!
PIDS+=($miravo)
shown=""
for _ in $(seq 300); do
  shown=$(grep -o 'xdg_toplevel@[0-9]*\.set_title("Miravo [0-9][^"]*")' "$DIR/client.log" | head -1 || true)
  [ -n "$shown" ] && break
  kill -0 "$miravo" 2>/dev/null || fail "miravo ended: $(grep -v '^\[' "$DIR/client.log" | tail -5)"
  sleep 0.1
done
[ -n "$shown" ] || fail "no send dialog reached the compositor"
sleep 1
kill -0 "$miravo" 2>/dev/null || fail "miravo ended after showing the send dialog"
echo "wayland: $shown"
echo "wayland send dialog: all checks passed"
