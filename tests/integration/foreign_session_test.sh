#!/usr/bin/env bash
# The main job (scripts/demo.sh, headless) run as root while another user's
# desktop session runs (a process named like a window manager): the fax
# goes out, and nothing is read from or written into that user's home.
#   foreign_session_test.sh SOURCE_DIR
# Needs root; exits 77 (skipped) otherwise.
set -euo pipefail
SOURCE=$(readlink -f "$1")
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
for tool in useradd userdel runuser; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done

DIR=$(mktemp -d /tmp/miravo-foreign-XXXXXX)
chmod 755 "$DIR"
OTHER=miravo-desktop-test
SESSION=""
cleanup() {
  [ -n "$SESSION" ] && kill "$SESSION" 2>/dev/null || true
  sleep 0.2
  userdel "$OTHER" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$DIR/demo.log" 2>/dev/null | tail -40; exit 1; }

id "$OTHER" >/dev/null 2>&1 ||
  useradd --no-create-home --home-dir "$DIR/home" --user-group --shell /bin/sh "$OTHER"
mkdir -m 700 "$DIR/home" "$DIR/home/.config"
chown -R "$OTHER:" "$DIR/home"
mkdir -m 755 "$DIR/bin"
cp /bin/sleep "$DIR/bin/openbox"
# The other user's window manager, with that user's HOME in its environment.
runuser -u "$OTHER" -- env -i HOME="$DIR/home" XDG_CONFIG_HOME="$DIR/home/.config" \
  "$DIR/bin/openbox" 600 &
for _ in $(seq 50); do
  SESSION=$(pgrep -u "$OTHER" -x openbox || true)
  [ -n "$SESSION" ] && break
  sleep 0.1
done
[ -n "$SESSION" ] || fail "the other user's session process did not start"
before=$(find "$DIR/home" -printf '%p %s %T@\n' | sort)

env -u DISPLAY -u WAYLAND_DISPLAY MIRAVO_HEADLESS=1 bash "$SOURCE/scripts/demo.sh" \
  >"$DIR/demo.log" 2>&1 || fail "the main job failed"
grep -Eq 'every destination received the fax|the fax went out' "$DIR/demo.log" ||
  fail "the fax did not go out"
! grep -q 'not sent' "$DIR/demo.log" || fail "a destination was not sent"
after=$(find "$DIR/home" -printf '%p %s %T@\n' | sort)
[ "$before" = "$after" ] || fail "the other user's home changed: $(diff <(echo "$before") <(echo "$after"))"
echo "PASS"
