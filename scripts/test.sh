#!/usr/bin/env bash
# Builds Miravo and runs every test: first the release build (all labels:
# unit, ui, integration, windows), then the AddressSanitizer +
# UndefinedBehaviorSanitizer build (all but the Windows tests, which run
# a cross-built program under Wine and gain nothing from it).
# Then every fuzz target runs a short while (scripts/fuzz.sh, 15 s each),
# so that a reader that crashes on odd input is caught.
# Set MIRAVO_SKIP_SANITIZERS=1 to run the release build only, and
# MIRAVO_SKIP_FUZZ=1 to leave the fuzz targets out.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

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
