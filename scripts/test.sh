#!/usr/bin/env bash
# Builds Miravo and runs every test: first the release build (all labels:
# unit, ui, integration, windows), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build (all but the Windows tests, which run
# a cross-built program under Wine and gain nothing from it).
# Then every fuzz target runs a short while (scripts/fuzz.sh, 15 s each),
# so that a reader that crashes on odd input is caught.
# Set MIRAVO_SKIP_SANITIZERS=1 to run the release build only, and
# MIRAVO_SKIP_FUZZ=1 to leave the fuzz targets out.
# At the end no process started by the run may be left: every process
# below carries the run's mark in its environment, and a miravo-* program
# still holding it then fails the run (others are listed and ended).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export MIRAVO_TEST_RUN="$$-$(date +%s%N)"

# Processes holding this run's mark, apart from this script and its own
# subshells: "pid name" per line.
marked_processes() {
  local p name
  for p in /proc/[0-9]*; do
    p=${p#/proc/}
    [ "$p" = "$$" ] || [ "$p" = "$BASHPID" ] && continue
    grep -qzx "MIRAVO_TEST_RUN=$MIRAVO_TEST_RUN" "/proc/$p/environ" 2>/dev/null || continue
    name=$(cat "/proc/$p/comm" 2>/dev/null) || continue
    echo "$p $name"
  done
}

check_leftovers() {
  local left i
  # Children killed at their test's end take a moment to go.
  for i in 1 2 3 4 5 6 7 8 9 10; do
    left=$(marked_processes)
    [ -z "$left" ] && return 0
    sleep 0.5
  done
  echo "== processes left behind by the run =="
  echo "$left"
  echo "$left" | while read -r p _; do kill -KILL "$p" 2>/dev/null || true; done
  if echo "$left" | awk '{print $2}' | grep -q '^miravo'; then
    echo "test run FAILED: miravo programs were left running" >&2
    return 1
  fi
}
trap 'status=$?; check_leftovers || status=1; exit $status' EXIT

echo "== release build =="
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

if [ "${MIRAVO_SKIP_SANITIZERS:-0}" != "1" ]; then
  echo "== sanitizer build (ASan + UBSan) =="
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$jobs"
  ctest --preset asan -j "$jobs" -LE windows
fi

if [ "${MIRAVO_SKIP_FUZZ:-0}" != "1" ]; then
  echo "== fuzz targets (libFuzzer, ASan + UBSan) =="
  FUZZ_JOBS="$jobs" bash scripts/fuzz.sh 15
fi
