#!/usr/bin/env bash
# Builds the library, the emulator and the thread test under ThreadSanitizer
# in a build folder of their own (build-tsan, or $ORV_TSAN_BUILD_DIR) and
# runs the test: any data race the sanitizer sees fails it.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ORV_TSAN_BUILD_DIR:-$src/build-tsan}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$build" -DORV_TSAN=ON -DORV_BUILD_MONITOR=OFF -DORV_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${ORV_TSAN_JOBS:-$(nproc)}" --target orvcomm_thread_tests
# The library is loaded from the build tree; the sanitizer's reports end the
# run with a failure.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/bin/orvcomm_thread_tests" "$@"
