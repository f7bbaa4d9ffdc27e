#!/usr/bin/env bash
# The serial fault soak over the controllers the field has: answer times
# fixed, spread, stepped, apart for reads and writes, or mostly quick with a
# share of slow ones; every fault kind at random, and a copy of an answer
# after the next request; at 9600, 19200 and 115200 baud; reads, writes and
# both; one thread or two on the connection; idle or beside busy loops. Then
# faults after which the controller stays 30 ms slower (an answer held 2.3
# time-outs, a copy of an answer no timing can tell, at 100 and 300 ms
# time-outs), a copy followed by one slow answer, and the answer two
# requests back sent again sooner than any answer. Then the same controllers
# healthy (and one that steps from 20 to 50 ms for good) on a paced line,
# one that hands bytes over at once, in 16 ms bursts, or ignores its rate
# altogether. Prints one line a run and exits nonzero when any run gave more
# stale values in a row than its pattern allows (one; 64 after a copy with
# the controller slower for good, two after a copy and one slow answer and
# after two answers held in a row),
# more than that a fault, any stale value where none may be (the answer
# sent again early), or (healthy) any wrong value or failed call.
#
#   tools/serial_soak.sh [bin folder] [calls] [jobs]
#
# The bin folder defaults to build/bin, calls to 300 a run, jobs to the
# number of cores (the idle runs sleep most of the time; runs beside busy
# loops go two at a time). ORV_SOAK_QUICK=1 runs a small part of it, as
# tools/stress.sh does.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$src/build/bin}" && pwd)"
calls=${2:-300}
jobs=${3:-$(nproc)}
soak="$bin/orv_fault_soak"
[ -x "$soak" ] || { echo "serial_soak: no $soak" >&2; exit 2; }

turnarounds=("20" "10-30" "5-60" "10,30@20" "3/40" "5,45@10%")
healthy=("${turnarounds[@]}" "20,50@50")
bauds=(9600 19200 115200)
modes=("--poll" "--writes" "")
timeouts=(100 300)
if [ "${ORV_SOAK_QUICK:-0}" = 1 ]; then
  turnarounds=("10-30" "3/40")
  healthy=("${turnarounds[@]}")
  bauds=(9600 115200)
  modes=("--poll" "--writes")
  timeouts=(100)
fi

# One run: its arguments in, one line out.
run() {
  local line out verdict=ok
  out=$("$soak" --transport serial --reads "$calls" "$@" 2>&1) || verdict=FAILED
  line=$(grep -m1 '^serial' <<<"$out" | sed -E 's/^serial +[^:]*: //')
  local mean
  mean=$(grep -m1 'mean call' <<<"$out" | sed -E 's/ *mean call ([0-9.]+) ms; the line.s theory ([0-9.]+) ms.*/\1 \2/')
  printf '%-7s %s | %s | mean/theory %s\n' "$verdict" "$*" \
    "$(sed -E 's/calls ([0-9]+) faults ([0-9]+) wrong ([0-9]+) .*longest run ([0-9]+) failed ([0-9]+).*/calls \1 faults \2 wrong \3 run \4 failed \5/' <<<"$line")" \
    "${mean:-?}"
}
export -f run
export soak calls

cases_faults() {
  local busy=$1 t b m threads
  for t in "${turnarounds[@]}"; do
    for b in "${bauds[@]}"; do
      for m in "${modes[@]}"; do
        for threads in 1 2; do
          echo "--timeout 100 --pattern field --faults 5 --turnaround $t --baud $b $m --threads $threads --busy $busy"
          echo "--timeout 100 --pattern copy-next --every 25 --turnaround $t --baud $b $m --threads $threads --busy $busy"
        done
      done
    done
  done
}
# Faults after which the controller answers more slowly, two answers held
# in a row, and an old answer sent again early (against a controller that
# never answers within 8 ms).
cases_slower() {
  local busy=$1 b m threads to
  for b in "${bauds[@]}"; do
    for m in "${modes[@]}"; do
      for threads in 1 2; do
        for to in "${timeouts[@]}"; do
          echo "--timeout $to --pattern held-slower --every 100 --turnaround 10-30 --baud $b $m --threads $threads --busy $busy"
          echo "--timeout $to --pattern old-early --every 10 --turnaround 20 --baud $b $m --threads $threads --busy $busy"
        done
        echo "--timeout 100 --pattern held-twice --every 15 --turnaround 5-60 --baud $b $m --threads $threads --busy $busy"
        echo "--timeout 100 --pattern copy-slower --every 100 --turnaround 10-30 --baud $b $m --threads $threads --busy $busy"
        echo "--timeout 100 --pattern copy-slow-once --every 25 --turnaround 10-30 --baud $b $m --threads $threads --busy $busy"
      done
    done
  done
}
cases_healthy() {
  local t b m d
  for t in "${healthy[@]}"; do
    for b in "${bauds[@]}"; do
      for m in "${modes[@]}"; do
        for d in "--delivery paced" "--delivery once" "--delivery bursts:16" "--line-timing off"; do
          echo "--timeout 100 --pattern clean --turnaround $t --baud $b $m $d"
        done
      done
    done
  done
}

status=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT
{
  cases_faults 0 | xargs -P "$jobs" -I{} bash -c 'run {}'
  cases_slower 0 | xargs -P "$jobs" -I{} bash -c 'run {}'
  cases_faults 8 | xargs -P 2 -I{} bash -c 'run {}'
  cases_slower 8 | xargs -P 2 -I{} bash -c 'run {}'
  cases_healthy | xargs -P "$jobs" -I{} bash -c 'run {}'
} | tee "$out"
failed=$(grep -c '^FAILED' "$out" || true)
echo "serial_soak: $(wc -l <"$out") runs, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
