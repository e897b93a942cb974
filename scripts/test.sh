#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once with warnings as errors, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then a short run of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DTFOLD_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # Many tests wait on a child process or a clock: twice as many at once as there are cores.
  ctest --test-dir "$dir" -j $((jobs * 2)) --output-on-failure
}
# No debug information in the plain build: it only slows the build down here; the sanitizer
# build keeps it for its reports.
run_suite "$root/build-tests" -DCMAKE_CXX_FLAGS_DEBUG=-O0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DTFOLD_SANITIZE=ON
"$root/fuzz/run.sh" 20
echo "All tests passed."
