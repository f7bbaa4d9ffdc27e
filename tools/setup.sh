# Sourced by run.sh and test.sh: install what is missing, then configure and build.
set -euo pipefail

ORV_PACKAGES="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
qt6-base-dev qt6-qpa-plugins libqt6sql6-sqlite socat iproute2 xvfb xauth fonts-dejavu-core file"
# The fuzz build (tools/fuzz.sh, CI) also needs clang and its libFuzzer runtime.
ORV_FUZZ_PACKAGES="clang libclang-rt-14-dev"

# Jobs for builds and for ctest: CMAKE_BUILD_PARALLEL_LEVEL and
# CTEST_PARALLEL_LEVEL when set (as cmake and ctest read them), else one per core.
orv_build_jobs() { echo "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"; }
orv_test_jobs() { echo "${CTEST_PARALLEL_LEVEL:-$(nproc)}"; }

# Installs the packages named (ORV_PACKAGES when none are) that are missing.
orv_install_missing() {
  local missing=()
  for p in ${*:-$ORV_PACKAGES}; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Configures and builds into ORV_BUILD_DIR with the CMake arguments in
# ORV_CMAKE_ARGS; sets ORV_BUILD to the folder. The arguments decide the
# kind of build every time: a build with the sanitizers (-DORV_SANITIZE=ON)
# goes to build-asan/ unless ORV_BUILD_DIR names a folder, and a build that
# does not ask for them is configured with ORV_SANITIZE=OFF, so that no folder
# stays a sanitizer build from an earlier run.
orv_build() {
  local src build args on='(^|[ dD])orv_sanitize(:bool)?=(on|1|true|yes|y)( |$)'
  src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  args="${ORV_CMAKE_ARGS:-}"
  build="$src/build"
  if [[ "${args,,}" =~ $on ]]; then
    build="$src/build-asan"
    echo "Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer) in ${ORV_BUILD_DIR:-$build}"
  elif [[ "$args" != *ORV_SANITIZE* ]]; then
    args="$args -DORV_SANITIZE=OFF"
  fi
  build="${ORV_BUILD_DIR:-$build}"
  cmake -S "$src" -B "$build" $args >/dev/null
  cmake --build "$build" -j "$(orv_build_jobs)"
  ORV_BUILD="$build"
}
