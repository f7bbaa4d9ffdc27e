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
cmake --build "$build" -j "${ORV_TSAN_JOBS:-${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}}" --target orvcomm_thread_tests
# The library is loaded from the build tree; the sanitizer's reports end the
# run with a failure.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
log="$build/thread_tests.log"
status=0
"$build/bin/orvcomm_thread_tests" "$@" 2>&1 | tee "$log" || status=$?
# Kernels that randomise mmap with more bits than this sanitizer runtime
# knows make it stop before the test starts; run it once more without
# address randomisation where the system allows that.
if [ "$status" -ne 0 ] && grep -q "unexpected memory mapping" "$log"; then
  echo "tsan: the address layout does not suit the sanitizer; running again without randomisation"
  exec setarch "$(uname -m)" -R "$build/bin/orvcomm_thread_tests" "$@"
fi
exit "$status"
