#!/usr/bin/env bash
# The main job. With a display (DISPLAY or WAYLAND_DISPLAY set, and
# MIRAVO_HEADLESS not set) it opens the desktop program on the printed
# sample against the local fax service: fill in a number (for instance
# +49 30 1234567), press Send and follow the fax in the status window.
# Without a display it runs headless: builds the programs, starts the local fax service
# (miravo-server --demo) on a free loopback port with a fresh data folder,
# prints the sample PDF the way the print monitor would (miravo-print
# --no-launch), sends the job with miravo-send to a few numbers while it
# shows what the status window shows, prints every destination's final
# status, and stops the service. Everything lives in one temporary folder
# that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
graphical=""
if [ -z "${MIRAVO_HEADLESS:-}" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  graphical=1
fi
cmake --build --preset default -j "$(nproc)" --target miravo-server miravo-print miravo-send miravo miravo_data

bin=$PWD/build/bin
# miravo-print wants a spool folder without "." or "_" in its path.
work=$(mktemp -d "${TMPDIR:-/tmp}/miravo-demo-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A private home: settings, the last answer and the documents stay in $work.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
mkdir -p "$HOME"

echo "== starting miravo-server --demo =="
"$bin/miravo-server" --demo --data "$work/service" --host 127.0.0.1 --port 0 \
  --version-port -1 --delivery-time 3000 >"$work/server.log" 2>&1 &
server_pid=$!
address=""
for _ in $(seq 1 300); do
  address=$(sed -n 's|^miravo-server: listening on https://\([0-9.]*:[0-9]*\)/.*|\1|p' "$work/server.log")
  [ -n "$address" ] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    cat "$work/server.log" >&2
    echo "demo: miravo-server did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "demo: miravo-server printed no address" >&2
  exit 1
fi
grep -v '^QStandardPaths' "$work/server.log" || true

# Settings of the send: the service found above, its CA, the demo account.
settings="$work/app_config.ini"
cat >"$settings" <<INI
[OPTIONS]
SERV_NAME=$address
OBJ_NAME=api2/proxy.php
CA_FILE=$work/service/ca.pem
USER_NAME=demo@miravo.test
USER_PASS=demo
SAVE_PASS=1
TIMEOUT=1000
VERSION_HOST=
INI

if [ -n "$graphical" ]; then
  # The desktop program reads its settings from the private home. It is
  # started here the way the print monitor starts it, but in the foreground,
  # so that the service is stopped only once the user has closed it.
  mkdir -p "$XDG_CONFIG_HOME/Miravo"
  cp "$settings" "$XDG_CONFIG_HOME/Miravo/app_config.ini"
  echo
  echo "== miravo-print data/sample.pdf, then miravo with the job file =="
  job=$("$bin/miravo-print" --no-launch --out "$work/spool" data/sample.pdf | head -n 1)
  echo "job file: $job"
  echo "Enter a destination number (e.g. +49 30 1234567), press Send, then Close when done."
  "$bin/miravo" "$job"
  echo
  echo "== stopping miravo-server =="
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  exit 0
fi

echo
echo "== miravo-print --no-launch data/sample.pdf =="
job=$("$bin/miravo-print" --no-launch --out "$work/spool" data/sample.pdf | head -n 1)
echo "job file: $job"

echo
echo "== miravo-send to three numbers =="
status=0
"$bin/miravo-send" --settings "$settings" \
  --to "+49 30 1234567:Anna Berger" \
  --to "+33 1 42 00 00 11:Office Paris" \
  --to "+44 20 7946 0001:Sales North" \
  --cover "Please find our quarterly figures attached." \
  "$job" </dev/null || status=$?

echo
case "$status" in
  0) echo "every destination received the fax (exit status 0)" ;;
  5) echo "the fax went out; some destination did not receive it (exit status 5)" ;;
  *) echo "the send ended with exit status $status" ;;
esac

echo
echo "== miravo-send --journal: the sent-fax journal =="
"$bin/miravo-send" --settings "$settings" --journal || true

echo
echo "== stopping miravo-server =="
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=""
grep -v '^QStandardPaths' "$work/server.log" | tail -n 1
# A destination that is not delivered is part of the demonstration.
[ "$status" -eq 0 ] || [ "$status" -eq 5 ]
