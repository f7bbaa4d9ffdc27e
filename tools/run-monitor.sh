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

. "$(dirname "$0")/session.sh"
orv_session_begin orvmon-session

device=""
if [ -x "$bin/orvemu" ]; then
  orv_emulator_pty "$bin" --live
  if [ -z "$device" ]; then
    echo "The emulator cannot serve a serial line yet ($(tr '\n' ' ' <"$session/emulator.err"))."
    echo "Opening the monitor without a controller."
  else
    echo "Emulator serving COM1 on $device"
    export ORVCOMM_COM1="$device"
  fi
else
  echo "No emulator in $bin; opening the monitor without a controller."
fi

if [ -z "${ORVMON_SETTINGS:-}" ]; then
  orv_session_settings "$session/settings.txt"
  export ORVMON_SETTINGS="$session/settings.txt"
fi
export ORVMON_DATA_DIR="${ORVMON_DATA_DIR:-$session}"

set +e
"$bin/orvmon" "$@"
rc=$?
set -e
exit $rc
