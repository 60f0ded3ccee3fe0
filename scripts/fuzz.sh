#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan, in
# build-fuzz/) and runs each for SECONDS (default 60), starting from its
# seed corpus in tests/fuzz/corpus/<target>. What a run finds new stays in
# build-fuzz/corpus/<target> for the next run; a crash leaves its input in
# build-fuzz/crashes/ and makes the script fail.
# A target is one process on one core: FUZZ_JOBS targets (default: the
# number of cores) run side by side, each for its full SECONDS.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 3600 service_answer
# MIRAVO_FUZZ_BUILD_ONLY=1 builds the targets and ends.
set -euo pipefail

cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(job_file profile_ini language contacts_csv service_answer mass_fax version_answer
           server_multipart vcard)
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz -j"${FUZZ_JOBS:-$(nproc)}"
[ "${MIRAVO_FUZZ_BUILD_ONLY:-0}" = "1" ] && exit 0

mkdir -p build-fuzz/crashes
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# One target's run; its status is that of the fuzzer (0: no finding).
fuzz_one() {
  local t=$1
  mkdir -p "build-fuzz/corpus/$t"
  "build-fuzz/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 -artifact_prefix="build-fuzz/crashes/$t-" \
    "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"build-fuzz/$t.log" 2>&1
}

jobs="${FUZZ_JOBS:-$(nproc)}"
declare -A running=()  # pid -> target
failed=()
# Waits for one running target and notes how it ended.
reap() {
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  local t=${running[$pid]}
  unset "running[$pid]"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $t FAILED (input in build-fuzz/crashes/, log build-fuzz/$t.log)"
    tail -30 "build-fuzz/$t.log"
    failed+=("$t")
  else
    echo "fuzz: $t done"
  fi
}
for t in "${targets[@]}"; do
  [ "${#running[@]}" -ge "$jobs" ] && reap
  echo "fuzz: $t for ${seconds}s"
  fuzz_one "$t" &
  running[$!]=$t
done
while [ "${#running[@]}" -gt 0 ]; do reap; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a finding"
