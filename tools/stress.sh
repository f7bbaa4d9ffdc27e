#!/usr/bin/env bash
# Runs the suite of a built tree on a busy machine: one busy loop per core
# beside ctest with about three times as many jobs as cores, several rounds.
# Prints each round's failed tests and a summary; exits nonzero when any
# test failed in any round. Then a short serial fault soak (tools/serial_soak.sh
# with ORV_SOAK_QUICK=1) beside the same busy loops: controllers whose answer
# time varies, every kind of fault, faults after which the controller keeps
# a pace no time-out bounds, and old answers sent again 1 ms after a
# request. Not part of ./test.sh.
#
#   tools/stress.sh [build folder] [rounds]
#
# The build folder defaults to build/ (it must be built already), rounds to 5.
# ORV_STRESS_JOBS sets the ctest jobs (3 x cores), ORV_STRESS_LOOPS the busy
# loops (one per core), ORV_STRESS_REGEX limits the run to matching tests.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$src/build}" && pwd)"
rounds=${2:-5}
cores=$(nproc)
jobs=${ORV_STRESS_JOBS:-$((3 * cores))}
loops=${ORV_STRESS_LOOPS:-$cores}
[ -f "$build/CTestTestfile.cmake" ] || { echo "stress: $build holds no built tests" >&2; exit 2; }

busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
trap stop_busy EXIT
trap "exit 130" INT TERM
for _ in $(seq "$loops"); do
  ( while :; do :; done ) &
  busy+=($!)
done

export QT_QPA_PLATFORM=offscreen
log="$build/stress"
mkdir -p "$log"
declare -A failures=()
failed_rounds=0
echo "stress: $build, $rounds rounds, ctest -j $jobs beside $loops busy loops on $cores cores"
for round in $(seq "$rounds"); do
  out="$log/round-$round.log"
  start=$SECONDS
  status=0
  (cd "$build" && ctest -j "$jobs" --timeout 300 --output-on-failure ${ORV_STRESS_REGEX:+-R "$ORV_STRESS_REGEX"}) >"$out" 2>&1 \
    || status=$?
  # ctest lists what failed after "The following tests FAILED:".
  failed=$(sed -n '/The following tests FAILED:/,$p' "$out" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p')
  summary=$(grep -m1 'tests passed' "$out" || echo "no summary")
  if [ -n "$failed" ] || [ "$status" -ne 0 ]; then
    failed_rounds=$((failed_rounds + 1))
    echo "round $round: $summary ($((SECONDS - start)) s); failed:"
    [ -n "$failed" ] || failed="(ctest ended with status $status; see $out)"
    while IFS= read -r t; do
      echo "    $t"
      failures[$t]=$(( ${failures[$t]:-0} + 1 ))
    done <<<"$failed"
  else
    echo "round $round: $summary ($((SECONDS - start)) s)"
  fi
done
soak_status=0
if [ -z "${ORV_STRESS_REGEX:-}" ]; then
  echo "stress: a short serial fault soak beside the busy loops"
  # Not the old answers among the usual times: those are told only while the
  # controller's answers come at their times, which these loops and the
  # soak's own forbid (the suite runs them alone beside the loops).
  ORV_SOAK_QUICK=1 ORV_SOAK_ONLY="faults slower paces healthy" "$src/tools/serial_soak.sh" "$build/bin" 100 "$cores" >"$log/serial-soak.log" 2>&1 || soak_status=$?
  tail -1 "$log/serial-soak.log"
  [ "$soak_status" -eq 0 ] || grep '^FAILED' "$log/serial-soak.log" || true
fi
stop_busy

if [ "$failed_rounds" -eq 0 ] && [ "$soak_status" -eq 0 ]; then
  echo "stress: no failure in $rounds rounds"
  exit 0
fi
[ "$soak_status" -eq 0 ] || echo "stress: the serial fault soak failed (see $log/serial-soak.log)"
echo "stress: failures in $failed_rounds of $rounds rounds (logs in $log):"
for t in "${!failures[@]}"; do echo "    ${failures[$t]}x $t"; done | sort -k2
exit 1
