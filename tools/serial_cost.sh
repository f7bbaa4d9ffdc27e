#!/usr/bin/env bash
# What a serial call costs against a healthy controller that answers in
# exactly 20 ms: a tight loop of alike reads (two registers in turn) at
# 100 ms, 300 ms, 1 s and 5 s time-outs, at 9600 and 115200 baud; then, at
# a 100 ms time-out, reads and writes in turn, and reads spaced 50 ms apart.
# One run at a time (timing figures), each of `calls` calls through
# orv_fault_soak. Prints one table row a run: the mean call beside the
# line's theory (the bytes' time at 10 bits a byte and the turnaround), the
# longest single call, the hold from a call's start to its request's first
# byte at the controller (mean and max), the controller's answers that went
# out over 1 ms late (a busy machine's, of all it timed), and failed and
# wrong calls (both 0 on a sound line). Exits nonzero when a run gave a
# wrong value or a failed call.
#
#   tools/serial_cost.sh [bin folder] [calls]
#
# The bin folder defaults to build/bin, calls to 300 a run.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$src/build/bin}" && pwd)"
calls=${2:-300}
soak="$bin/orv_fault_soak"
[ -x "$soak" ] || { echo "serial_cost: no $soak" >&2; exit 2; }

status=0
# One run: traffic (its label), baud, time-out, the soak's own options.
row() {
  local traffic=$1 baud=$2 timeout=$3 out
  shift 3
  out=$("$soak" --transport serial --pattern clean --turnaround 20 --reads "$calls" --baud "$baud" \
    --timeout "$timeout" "$@" 2>&1) || status=1
  local mean theory longest hold failed wrong
  read -r mean theory longest < <(sed -nE \
    's/ *mean call ([0-9.]+) ms; the line.s theory ([0-9.]+) ms.*longest call ([0-9.]+) ms.*/\1 \2 \3/p' <<<"$out")
  hold=$(sed -nE 's/.*hold before a request: mean ([0-9.]+) ms, max ([0-9.]+) ms.*/\1 \/ \2/p' <<<"$out")
  late=$(sed -nE 's/.*controller late: ([0-9]+) of ([0-9]+) answers.*/\1 \/ \2/p' <<<"$out")
  failed=$(sed -nE 's/.* failed ([0-9]+) .*/\1/p' <<<"$out" | head -1)
  wrong=$(sed -nE 's/.* wrong ([0-9]+) .*/\1/p' <<<"$out" | head -1)
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$traffic" "$baud" "$timeout" "${theory:-?}" \
    "${mean:-?}" "${longest:-?}" "${hold:-?}" "${late:-?}" "${failed:-?}" "${wrong:-?}"
}

echo "serial_cost: $calls calls a run; load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "| traffic | baud | time-out ms | theory ms | mean ms | longest ms | hold mean / max ms | late answers | failed | wrong |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for timeout in 100 300 1000 5000; do
  for baud in 9600 115200; do row "reads, tight" "$baud" "$timeout" --poll; done
done
for baud in 9600 115200; do
  row "reads and writes in turn" "$baud" 100
  row "reads, 50 ms apart" "$baud" 100 --poll --gap 50
done
exit $status
