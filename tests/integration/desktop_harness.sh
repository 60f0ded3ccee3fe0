# Shared by the desktop tests that drive the real program (sourced): a
# private folder whose processes end with the test, an X server of its own
# on a laptop-sized screen, and the local fax service with its demo account.

# The test's folder ($DIR) and the processes to end with it ($PIDS).
harness_folder() {  # NAME
  DIR=$(mktemp -d "/tmp/miravo-$1-XXXXXX")
  chmod 700 "$DIR"
  PIDS=()
  trap harness_cleanup EXIT
}
harness_cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$DIR"
}

# Xvfb at 1366 x 768; exports DISPLAY.
harness_xvfb() {
  exec 5> >(cat > "$DIR/display")
  Xvfb -displayfd 5 -nolisten tcp -screen 0 1366x768x24 >/dev/null 2>&1 &
  PIDS+=($!)
  exec 5>&-
  for _ in $(seq 100); do [ -s "$DIR/display" ] && break; sleep 0.1; done
  [ -s "$DIR/display" ] || fail "Xvfb did not start"
  export DISPLAY=:$(head -1 "$DIR/display")
}

# miravo-server with its demo account in $DIR/server; sets $port.
harness_server() {
  "$BUILD/bin/miravo-server" --data "$DIR/server" --port 0 --version-port -1 --demo --quiet \
    --min-poll-interval 0 --delivery-time 200 > "$DIR/server.log" 2>&1 &
  PIDS+=($!)
  port=""
  for _ in $(seq 200); do
    port=$(grep -o 'listening on https://127\.0\.0\.1:[0-9]*' "$DIR/server.log" | grep -o '[0-9]*$' || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$DIR/server.log"; fail "the fax service did not start"; }
}
