# Sourced by run.sh and test.sh: install what is missing, then configure and build.
set -euo pipefail

ORV_PACKAGES="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
qt6-base-dev qt6-qpa-plugins libqt6sql6-sqlite socat iproute2 xvfb xauth fonts-dejavu-core"
# The fuzz build (tools/fuzz.sh, CI) also needs clang and its libFuzzer runtime.
ORV_FUZZ_PACKAGES="clang libclang-rt-14-dev"

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

orv_build() {
  local src build
  src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build="${ORV_BUILD_DIR:-$src/build}"
  cmake -S "$src" -B "$build" ${ORV_CMAKE_ARGS:-} >/dev/null
  cmake --build "$build" -j "$(nproc)"
  ORV_BUILD="$build"
}
