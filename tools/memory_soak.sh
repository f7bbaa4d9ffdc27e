#!/usr/bin/env bash
# The monitor's memory over a long run, as a plant runs it: orvemu on UDP
# with values that change on their own (--live), orvmon on it with every
# window the DDE commands open (but the data table editor: the emulator's
# table is empty, which the editor says in a box), polling at 100 ms; the
# emulator is stopped for a minute twice on the way. Prints the monitor's
# resident memory (VmRSS, and RssAnon, its heap), descriptors and threads once
# a minute, and the heap's growth per minute after the first two minutes.
#
#   tools/memory_soak.sh [bin-folder] [minutes]     (defaults: build/bin, 20)
#
# Runs under xvfb-run when it is there (the windows are drawn as on a
# desktop), else on the offscreen platform. ORV_SOAK_ADDRESS picks the
# emulator's loopback address (default 127.0.0.38).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$here/build/bin}" && pwd)"
minutes="${2:-20}"
address="${ORV_SOAK_ADDRESS:-127.0.0.38}"

. "$here/tools/session.sh"
orv_session_begin orvmon-soak
mon_pid=""
launcher=""
soak_end() {
  if [ -n "$mon_pid" ]; then kill "$mon_pid" 2>/dev/null || true; fi
  if [ -n "$launcher" ]; then wait "$launcher" 2>/dev/null || true; fi
  orv_session_end
}
trap soak_end EXIT INT TERM

start_emulator() {
  "$bin/orvemu" --udp "$address" --live >"$session/emulator.out" 2>"$session/emulator.err" &
  emu_pid=$!
}
start_emulator

{
  echo "[Communications]"
  echo 'dword "COMM Port" 1'
  echo "sz \"IP Address\" \"$address\""
  echo 'dword "Timeout" 300'
  echo "[DDE Setup]"
  echo 'dword "Update" 100'
  for s in Files Main Registers NVram Analin Analout Custom1 Custom2 Flags Digin Digout Servo Status Dtable; do
    echo "[$s]"
  done
} >"$session/settings.txt"
export ORVMON_SETTINGS="$session/settings.txt"
export ORVMON_DATA_DIR="$session"
export ORVMON_DDE="$session/dde"
export HOME="$session"

run=("$bin/orvmon")
if command -v xvfb-run >/dev/null; then
  run=(xvfb-run -a -s "-screen 0 1600x1200x24" "$bin/orvmon")
else
  export QT_QPA_PLATFORM=offscreen
fi
"${run[@]}" >"$session/monitor.out" 2>&1 &
launcher=$!

# The monitor's own process (under xvfb-run it is a grandchild).
for _ in $(seq 100); do
  mon_pid="$(pgrep -n -f "^$bin/orvmon" || true)"
  [ -n "$mon_pid" ] && break
  sleep 0.1
done
[ -n "$mon_pid" ] || { echo "memory_soak.sh: the monitor did not start"; cat "$session/monitor.out"; exit 1; }

dde() { "$bin/orvdde" --service "$ORVMON_DDE" --timeout 20000 "$@" >/dev/null 2>&1; }
for _ in $(seq 100); do dde ORVmain request Message && break; sleep 0.2; done
sleep 2
for w in REGISTERS INPUTS "ANALOG INS" FLAGS OUTPUTS "ANALOG OUTS" SERVOS "CUSTOM 1" "CUSTOM 2" \
  "PROGRAM STATUS" "NVRAM MODULE"; do
  out="$("$bin/orvdde" --service "$ORVMON_DDE" --timeout 20000 ORVmain execute "$w" 2>&1)" || echo "memory_soak.sh: could not open $w: $out"
done
dde DDEsetup execute START || true

field() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$mon_pid/status"; }
# The register window follows the live counter (four counts a second).
first="$("$bin/orvdde" --service "$ORVMON_DDE" ORVreg request "Text1(0)" || true)"
sleep 1
echo "register 1 read $first, a second later $("$bin/orvdde" --service "$ORVMON_DDE" ORVreg request "Text1(0)" || true)"
echo "minute  VmRSS kB  RssAnon kB  fds  threads"
declare -a heap
for m in $(seq 0 "$minutes"); do
  kill -0 "$mon_pid" 2>/dev/null || { echo "memory_soak.sh: the monitor ended"; exit 1; }
  heap[$m]=$(field RssAnon)
  printf "%6d  %8s  %10s  %3s  %7s\n" "$m" "$(field VmRSS)" "${heap[$m]}" \
    "$(ls "/proc/$mon_pid/fd" | wc -l)" "$(field Threads)"
  [ "$m" -eq "$minutes" ] && break
  # The controller goes away twice for a minute on the way.
  if [ "$m" -eq $((minutes / 3)) ] || [ "$m" -eq $((2 * minutes / 3)) ]; then
    orv_emulator_stop
    sleep 60
    start_emulator
    continue
  fi
  sleep 60
done
if [ "$minutes" -gt 2 ]; then
  awk -v a="${heap[2]}" -v b="${heap[$minutes]}" -v n="$((minutes - 2))" \
    'BEGIN { printf "heap growth after minute 2: %.1f kB a minute\n", (b - a) / n }'
fi
