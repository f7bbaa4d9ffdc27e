#!/usr/bin/env bash
# The serial fault soak over the controllers the field has: answer times
# fixed, spread, stepped, apart for reads and writes, or mostly quick with a
# share of slow ones; every fault kind at random, and a copy of an answer
# after the next request; at 9600, 19200 and 115200 baud; reads, writes and
# both; one thread or two on the connection; idle or beside busy loops. Then
# faults after which the controller stays 30 ms slower (an answer held 2.3
# time-outs, a copy of an answer no timing can tell, at 100 and 300 ms
# time-outs), a copy followed by one slow answer, and the answer two
# requests back sent again sooner than any answer. Then faults after which
# the controller keeps a pace no time-out bounds (a copy followed by answers
# past the time-out, or past a poller's 150 ms gap and the time-out; the
# last two answers sent again, then answers in 22 to 30 ms; an answer held
# 2.5 time-outs, then answers in 2.1 to 2.9 time-outs), and an old answer
# sent again 1 ms or 6 to 10 ms after a request against a controller that
# answers 90 % at 5 ms and 10 % at 45 ms, at 100 ms and 1 s time-outs,
# reads, writes, both and two threads. Then the same controllers healthy
# (and one that steps from 20 to 50 ms for good) on a paced line, one that
# hands bytes over at once, in 16 ms bursts, or ignores its rate
# altogether. Prints one line a run and exits nonzero when any run gave
# more stale values in a row than its pattern allows (one; 32 after a copy
# with the controller slower for good, two after a copy and one slow answer
# and after two answers held in a row; a run over more calls than the
# line's proof interval after copies followed by another pace), more than
# that a fault, any stale value where none may be (an old answer sent
# again early), or (healthy) any wrong value or failed call.
#
#   tools/serial_soak.sh [bin folder] [calls] [jobs]
#
# The bin folder defaults to build/bin, calls to 250 a run, jobs to the
# number of cores (the runs sleep most of the time; the paces, whose calls
# mostly wait out a time-out, go twice as many at a time). The busy runs go
# beside one set of busy loops, one per core (ORV_SOAK_LOOPS), started for
# them. ORV_SOAK_QUICK=1 runs a small part of it, as tools/stress.sh does;
# ORV_SOAK_ONLY names the groups to run of faults, slower, paces, crowded
# and healthy (all by default), e.g. ORV_SOAK_ONLY="paces crowded".
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$src/build/bin}" && pwd)"
calls=${2:-250}
jobs=${3:-$(nproc)}
loops=${ORV_SOAK_LOOPS:-$(nproc)}
soak="$bin/orv_fault_soak"
[ -x "$soak" ] || { echo "serial_soak: no $soak" >&2; exit 2; }

turnarounds=("20" "10-30" "5-60" "10,30@20" "3/40" "5,45@10%")
healthy=("${turnarounds[@]}" "20,50@50")
bauds=(9600 19200 115200)
modes=("--poll" "--writes" "")
timeouts=(100 300)
# The faults after which the controller keeps another pace, and the old
# answers sent again early, with the turnaround and fault spacing of each.
paces=("copy-past-timeout --turnaround 20" "copy-past-gap --turnaround 20" "two-again --turnaround 10-30"
  "held-past-twice --turnaround 20")
early=("old-early-1ms")
pace_modes=("--poll" "--writes" "" "--threads 2")
pace_timeouts=(100 1000)
if [ "${ORV_SOAK_QUICK:-0}" = 1 ]; then
  turnarounds=("10-30" "3/40")
  healthy=("${turnarounds[@]}")
  bauds=(9600 115200)
  modes=("--poll" "--writes")
  timeouts=(100)
  pace_modes=("--poll" "")
  pace_timeouts=(100)
fi
# Two faults a run: another pace from call 100 (of 250) on, the usual one
# from call 200 on.
every=$((calls * 2 / 5))

# One run: its arguments in, one line out.
run() {
  local line out verdict=ok
  out=$("$soak" --transport serial --reads "$calls" "$@" 2>&1) || verdict=FAILED
  line=$(grep -m1 '^serial' <<<"$out" | sed -E 's/^serial +[^:]*: //')
  local mean hold span took
  mean=$(grep -m1 'mean call' <<<"$out" |
    sed -E 's/ *mean call ([0-9.]+) ms; the line.s theory ([0-9.]+) ms.*longest call ([0-9.]+) ms.*/\1 \2, longest \3/')
  hold=$(grep -m1 'hold before' <<<"$out" | sed -E 's/.*mean ([0-9.]+) ms, max ([0-9.]+) ms.*/\1 max \2/')
  span=$(grep -m1 'longest run of stale' <<<"$out" | sed -E 's/.*over ([0-9]+) calls.*/ over \1 calls/')
  took=$(grep -m1 '^serial' <<<"$out" | sed -E 's/.* ([0-9.]+) s, [0-9.]+ ms a call.*/\1/')
  printf '%-7s %s%s | %s%s | mean/theory %s | hold %s | %s s\n' "$verdict" "$*" "${busy_note:-}" \
    "$(sed -E 's/calls ([0-9]+) faults ([0-9]+) wrong ([0-9]+) .*longest run ([0-9]+) failed ([0-9]+).*/calls \1 faults \2 wrong \3 run \4 failed \5/' <<<"$line")" \
    "${span:-}" "${mean:-?}" "${hold:-?}" "${took:-?}"
}
export -f run
export soak calls

cases_faults() {
  local t b m threads
  for t in "${turnarounds[@]}"; do
    for b in "${bauds[@]}"; do
      for m in "${modes[@]}"; do
        for threads in 1 2; do
          echo "--timeout 100 --pattern field --faults 5 --turnaround $t --baud $b $m --threads $threads"
          echo "--timeout 100 --pattern copy-next --every 25 --turnaround $t --baud $b $m --threads $threads"
        done
      done
    done
  done
}
# Faults after which the controller answers more slowly, two answers held
# in a row, and an old answer sent again early (against a controller that
# never answers within 8 ms).
cases_slower() {
  local b m threads to
  for b in "${bauds[@]}"; do
    for m in "${modes[@]}"; do
      for threads in 1 2; do
        for to in "${timeouts[@]}"; do
          echo "--timeout $to --pattern held-slower --every 100 --turnaround 10-30 --baud $b $m --threads $threads"
          echo "--timeout $to --pattern old-early --every 10 --turnaround 20 --baud $b $m --threads $threads"
        done
        echo "--timeout 100 --pattern held-twice --every 15 --turnaround 5-60 --baud $b $m --threads $threads"
        echo "--timeout 100 --pattern copy-slower --every 100 --turnaround 10-30 --baud $b $m --threads $threads"
        echo "--timeout 100 --pattern copy-slow-once --every 25 --turnaround 10-30 --baud $b $m --threads $threads"
      done
    done
  done
}
# Faults after which the controller keeps a pace no time-out bounds, and
# old answers sent again early among quick ones (every 6 to 12 calls).
cases_paces() {
  local p b m to
  for to in "${pace_timeouts[@]}"; do
    for b in "${bauds[@]}"; do
      for m in "${pace_modes[@]}"; do
        for p in "${paces[@]}"; do echo "--timeout $to --pattern $p --every $every --baud $b $m"; done
        for p in "${early[@]}"; do echo "--timeout $to --pattern $p --after 60 --every 6-12 --turnaround 5,45@10% --baud $b $m"; done
      done
    done
  done
}
# An old answer sent again among the controller's usual times: told only
# while the controller's own answers come at their times, so these runs
# have the machine to themselves (or only the busy loops beside them).
cases_crowded() {
  local b m to
  for to in "${pace_timeouts[@]}"; do
    for b in "${bauds[@]}"; do
      for m in "${pace_modes[@]}"; do
        echo "--timeout $to --pattern old-early-in-range --after 60 --every 6-12 --turnaround 5,45@10% --baud $b $m"
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

pids=()
stop_loops() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
start_loops() {
  for _ in $(seq "$loops"); do
    (while :; do :; done) &
    pids+=($!)
  done
}
out=$(mktemp)
trap 'stop_loops; rm -f "$out"' EXIT
trap 'exit 130' INT TERM
only=" ${ORV_SOAK_ONLY:-faults slower paces crowded healthy} "
# The cases a function lists, N at a time, when its group is asked for.
runs() {
  [[ "$only" == *" ${1#cases_} "* ]] || return 0
  "$1" | xargs -P "$2" -I{} bash -c 'run {}' | tee -a "$out"
}
started=$SECONDS
for load in idle busy; do
  if [ "$load" = busy ]; then
    start_loops
    export busy_note=" (beside $loops busy loops)"
  fi
  runs cases_faults "$jobs"
  runs cases_slower "$jobs"
  runs cases_paces $((2 * jobs))
  runs cases_crowded 1
done
stop_loops
unset busy_note
runs cases_healthy "$jobs"
failed=$(grep -c '^FAILED' "$out" || true)
echo "serial_soak: $(wc -l <"$out") runs, $failed failed, $((SECONDS - started)) s"
[ "$failed" -eq 0 ]
