#!/usr/bin/env bash
# Start the controller emulator on a pseudo-terminal, point the monitor at it
# and open the monitor; stop the emulator when the monitor exits.
#
#   tools/run-monitor.sh <bin-folder> [symbol file]
#
# The session gets its own settings file under a temporary folder
# (ORVMON_SETTINGS), with COM port 1 (ORVCOMM_COM1) on the emulator's device;
# a settings file of your own is used instead when ORVMON_SETTINGS is set.
set -euo pipefail
bin="$(cd "${1:?usage: run-monitor.sh <bin-folder> [symbol file]}" && pwd)"
shift

session="$(mktemp -d "${TMPDIR:-/tmp}/orvmon-session.XXXXXX")"
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ]; then
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
  fi
  rm -rf "$session"
}
trap cleanup EXIT INT TERM

device=""
if [ -x "$bin/orvemu" ]; then
  "$bin/orvemu" --pty --live >"$session/emulator.out" 2>"$session/emulator.err" &
  emu_pid=$!
  # Wait up to five seconds for the line "serial <device>".
  for _ in $(seq 50); do
    device="$(sed -n 's/^serial //p' "$session/emulator.out" | head -n1)"
    [ -n "$device" ] && break
    kill -0 "$emu_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$device" ]; then
    echo "The emulator cannot serve a serial line yet ($(tr '\n' ' ' <"$session/emulator.err"))."
    echo "Opening the monitor without a controller."
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
    emu_pid=""
  else
    echo "Emulator serving COM1 on $device"
    export ORVCOMM_COM1="$device"
  fi
else
  echo "No emulator in $bin; opening the monitor without a controller."
fi

if [ -z "${ORVMON_SETTINGS:-}" ]; then
  # COM port 1 at 9600 baud: port kind 3 is COM1.
  cat >"$session/settings.txt" <<'SETTINGS'
# orvmon settings for one session against the emulator
[Communications]
dword "COMM Port" 3
dword "BAUD Rate" 9600
dword "Timeout" 300
[DDE Setup]
[Files]
[Main]
[Registers]
[NVram]
[Analin]
[Analout]
[Custom1]
[Custom2]
[Flags]
[Digin]
[Digout]
[Servo]
[Status]
[Dtable]
SETTINGS
  export ORVMON_SETTINGS="$session/settings.txt"
fi
export ORVMON_DATA_DIR="${ORVMON_DATA_DIR:-$session}"

set +e
"$bin/orvmon" "$@"
rc=$?
set -e
exit $rc
