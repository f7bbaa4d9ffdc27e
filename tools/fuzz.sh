#!/usr/bin/env bash
# Builds the fuzz targets (clang, ORV_FUZZ=ON) in their own build folder and
# runs each for the given time on its seeds.
#
#   tools/fuzz.sh [seconds] [target...]
#
# seconds defaults to 20; targets are the names of fuzz/seeds/* (all when
# none are given). New inputs, crashes and each run's log go to
# <build>/findings/<target>/, never into the seeds; the build folder is
# $ORV_FUZZ_BUILD_DIR, else build-fuzz. $ORV_FUZZ_JOBS targets run at once
# (half the processors by default). Exits nonzero when any target crashed,
# hung, leaked or could not run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tools/setup.sh
orv_install_missing $ORV_FUZZ_PACKAGES

seconds=${1:-20}
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in fuzz/seeds/*/; do targets+=("$(basename "$d")"); done
fi
build=${ORV_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${ORV_FUZZ_JOBS:-$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DORV_FUZZ=ON -DORV_BUILD_BENCH=OFF ${ORV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(orv_build_jobs)" --target "${targets[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen
run_one() {
  local t=$1 out=$build/findings/$1
  mkdir -p "$out/corpus"
  # The first folder takes what the run finds; the seeds are only read.
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$out/" "$out/corpus" "$root/fuzz/seeds/$t" </dev/null >"$out/log" 2>&1
}

declare -A pids=()
failed=()
finish() {
  local t=$1
  if wait "${pids[$t]}"; then
    echo "fuzz $t: $(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$build/findings/$t/log" | grep -o '[0-9]*$') runs, no finding"
  else
    failed+=("$t")
    echo "fuzz $t: FAILED, see $build/findings/$t/log"
    tail -n 40 "$build/findings/$t/log" | sed 's/^/    /'
  fi
  unset "pids[$t]"
}
for t in "${targets[@]}"; do
  while [ ${#pids[@]} -ge "$jobs" ]; do
    wait -n || true
    for r in "${!pids[@]}"; do kill -0 "${pids[$r]}" 2>/dev/null || finish "$r"; done
  done
  run_one "$t" &
  pids[$t]=$!
done
for r in "${!pids[@]}"; do finish "$r"; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, no finding"
