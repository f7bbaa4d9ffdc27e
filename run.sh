#!/usr/bin/env bash
# Install what is missing, build, start the controller emulator and open the
# monitor connected to it.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
orv_install_missing
orv_build
bin="$ORV_BUILD/bin"
if [ -x "$bin/orvmon" ] && [ -x tools/run-monitor.sh ]; then
  exec tools/run-monitor.sh "$bin"
fi
echo "The monitor is not built yet; starting the controller emulator in the foreground."
echo "It prints the serial device it serves; point the library at it with ORVCOMM_COM1=<device>."
exec "$bin/orvemu" --pty --live
