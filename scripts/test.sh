#!/usr/bin/env bash
# Builds Miravo and runs every test: first the release build (all labels:
# unit, ui, integration, windows), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build (all but the Windows tests, which run
# a cross-built program under Wine and gain nothing from it).
# Then every fuzz target runs a short while (scripts/fuzz.sh, 15 s each,
# one target per core), so that a reader that crashes on odd input is caught.
# Each build after the first is made while the tests before it run, at the
# lowest priority: those tests spend most of their time waiting for their
# services and programs, and take the processor back whenever they need it.
# A test that fails does not stop the run: the later builds still run their
# tests, and the run fails at its end.
# Set MIRAVO_SKIP_SANITIZERS=1 to run the release build only,
# MIRAVO_SKIP_FUZZ=1 to leave the fuzz targets out, and
# MIRAVO_TEST_SEQUENTIAL=1 to build nothing while tests run.
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

sanitize=1; [ "${MIRAVO_SKIP_SANITIZERS:-0}" = "1" ] && sanitize=0
fuzz=1; [ "${MIRAVO_SKIP_FUZZ:-0}" = "1" ] && fuzz=0
failed=()

build_asan() { cmake --preset asan >/dev/null && cmake --build --preset asan -j "$jobs"; }
build_fuzz() { MIRAVO_FUZZ_BUILD_ONLY=1 FUZZ_JOBS="$jobs" bash scripts/fuzz.sh; }

# start_build STEP LOG: the next build step (a function above) in the
# background at the lowest priority, its output in LOG; finish_build waits
# for it and shows what it said besides its progress. With
# MIRAVO_TEST_SEQUENTIAL=1 the step runs in finish_build instead.
background=""
background_step=""
background_log=""
start_build() {
  background_step=$1
  background_log=$2
  [ "${MIRAVO_TEST_SEQUENTIAL:-0}" = "1" ] && return
  ( renice -n 19 -p "$BASHPID" >/dev/null; "$background_step" ) >"$background_log" 2>&1 &
  background=$!
}
finish_build() {
  if [ -z "$background" ]; then
    "$background_step"
    return
  fi
  local status=0
  wait "$background" || status=$?
  background=""
  grep -v '^\[[0-9]*/[0-9]*\] ' "$background_log" || true
  if [ "$status" -ne 0 ]; then
    echo "build failed ($background_step), its output: $background_log" >&2
    return 1
  fi
  echo "(built while the tests before it ran: $(grep -c '^\[[0-9]*/[0-9]*\] ' "$background_log") steps)"
}

echo "== release build =="
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
if [ "$sanitize" = 1 ]; then
  start_build build_asan build/asan-build.log
elif [ "$fuzz" = 1 ]; then
  start_build build_fuzz build/fuzz-build.log
fi
ctest --preset default -j "$jobs" || failed+=(release)

if [ "$sanitize" = 1 ]; then
  echo "== sanitizer build (ASan + UBSan) =="
  finish_build
  [ "$fuzz" = 1 ] && start_build build_fuzz build/fuzz-build.log
  ctest --preset asan -j "$jobs" -LE windows || failed+=(sanitizer)
fi

if [ "$fuzz" = 1 ]; then
  echo "== fuzz targets (libFuzzer, ASan + UBSan) =="
  finish_build
  FUZZ_JOBS="$jobs" bash scripts/fuzz.sh 15 || failed+=(fuzz)
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "test run FAILED: ${failed[*]}" >&2
  exit 1
fi
