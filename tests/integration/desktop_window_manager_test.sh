#!/usr/bin/env bash
# The desktop program as a user meets it: an X server (Xvfb) with a window
# manager (openbox), a session bus on which a keyring daemon could be
# started on demand but none runs, and a saved password in the settings.
#  1. The status window of a send to two numbers, one of which fails, ends
#     with the outcome in its summary row, title and tray tooltip.
#  2. A printed document opens the send dialog with the typing in the first
#     number field; a number and Enter send it. No window but Miravo's
#     appears (the keyring daemon is never started), the fax reaches the
#     service, and the password stays where it was.
#   desktop_window_manager_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
for tool in Xvfb openbox xdotool dbus-daemon sqlite3 iconv; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done

source "$SOURCE/tests/integration/desktop_harness.sh"
fail() { echo "FAIL: $*"; tail -20 "$DIR/miravo.log" 2>/dev/null || true; exit 1; }
harness_folder desktop
harness_xvfb
openbox >/dev/null 2>&1 &
PIDS+=($!)
sleep 1  # the window manager takes the screen

# A session bus that would start a keyring daemon on the first call to it.
mkdir -p "$DIR/services"
cat > "$DIR/services/keyring.sh" <<EOF
#!/bin/sh
touch "$DIR/keyring-started"
exec sleep 60
EOF
chmod 700 "$DIR/services/keyring.sh"
printf '[D-BUS Service]\nName=org.freedesktop.secrets\nExec=%s\n' "$DIR/services/keyring.sh" \
  > "$DIR/services/org.freedesktop.secrets.service"
cat > "$DIR/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$DIR/bus</listen>
  <servicedir>$DIR/services</servicedir>
  <policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>
CONF
dbus-daemon --config-file="$DIR/session.conf" --nofork >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -S "$DIR/bus" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=unix:path=$DIR/bus

# 1. The outcome of a send to two numbers, one failing.
QT_QPA_PLATFORM=xcb "$BUILD/bin/desktop_send_test" --gtest_brief=1 \
  --gtest_filter='DesktopFailedTransfer.SummaryRowTitleAndTrayTellTheOutcomeOfTwoNumbers' ||
  fail "the status window did not tell the outcome"

# 2. A printed document sent as a new user would.
harness_server
export HOME=$DIR/home XDG_CONFIG_HOME=$DIR/home/config XDG_CACHE_HOME=$DIR/home/cache \
  XDG_DATA_HOME=$DIR/home/data XDG_RUNTIME_DIR=$DIR
mkdir -p "$XDG_CONFIG_HOME/Miravo"
settings=$XDG_CONFIG_HOME/Miravo/app_config.ini
{ printf '\xff\xfe'
  printf '[OPTIONS]\r\nSERV_NAME=127.0.0.1:%s\r\nOBJ_NAME=api2/proxy.php\r\nCA_FILE=%s\r\nUSER_NAME=demo@miravo.test\r\nUSER_PASS=demo\r\nSAVE_PASS=1\r\nCLOSE_WND=1\r\n' \
    "$port" "$DIR/server/ca.pem" | iconv -f UTF-8 -t UTF-16LE; } > "$settings"
job=$("$BUILD/bin/miravo-print" --no-launch --out "$DIR/spool" "$SOURCE/data/sample.pdf") ||
  fail "the sample could not be printed"
QT_QPA_PLATFORM=xcb "$BUILD/bin/miravo" "$job" > "$DIR/miravo.log" 2>&1 &
miravo=$!
PIDS+=($miravo)
window=$(timeout 60 xdotool search --sync --onlyvisible --name 'Miravo [0-9]' 2>/dev/null | sed -n 1p)
[ -n "$window" ] || fail "the send dialog did not appear"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.5
# Typed straight away: the focus is in the first number field, and Enter sends.
xdotool type --delay 20 '+49 30 1234567'
xdotool key Return
sent=0
for _ in $(seq 300); do
  sent=$(sqlite3 "$DIR/server/miravo.db" 'select count(*) from faxes' 2>/dev/null || echo 0)
  [ "$sent" -ge 1 ] && break
  kill -0 "$miravo" 2>/dev/null || break
  sleep 0.2
done
[ "$sent" -ge 1 ] || fail "typing a number and Enter sent nothing"
# Every window on the screen meanwhile is Miravo's.
for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
  pid=$(xdotool getwindowpid "$w" 2>/dev/null || true)
  [ -z "$pid" ] || [ "$pid" = "$miravo" ] || fail "a window of another program appeared: $(xdotool getwindowname "$w")"
done
# The send ends by itself (CLOSE_WND) and the program with it.
for _ in $(seq 300); do kill -0 "$miravo" 2>/dev/null || break; sleep 0.2; done
kill -0 "$miravo" 2>/dev/null && fail "the program did not end after the send"
[ ! -e "$DIR/keyring-started" ] || fail "the keyring daemon was started"
iconv -f UTF-16LE -t UTF-8 "$settings" | tr -d '\r' | grep -qx 'USER_PASS=demo' ||
  fail "the password left the settings file: $(iconv -f UTF-16LE -t UTF-8 "$settings")"
echo "PASS"
