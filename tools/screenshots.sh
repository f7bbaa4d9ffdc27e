#!/usr/bin/env bash
# Pictures of every window of the monitor, one PNG per window.
#
#   tools/screenshots.sh [bin-folder] [output folder]
#
# Starts the controller emulator on a pseudo-terminal and, under xvfb-run,
# orvgallery: the monitor program with a driver that opens every window in
# turn with representative values (the extremes of a 32-bit register, symbol
# names of 40 characters) and writes <output folder>/<window>.png, plus
# desktop.png with the main and register windows where a first start puts
# them. Defaults: build/bin and build/screenshots. ORV_SHOTS_WM names a
# window manager to run on the virtual display (twm, for instance).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$here/build/bin}" && pwd)"
out="${2:-$here/build/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

for tool in xvfb-run; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (apt-get install xvfb)"; exit 1; }
done
[ -x "$bin/orvgallery" ] || { echo "screenshots.sh: $bin/orvgallery is missing (cmake --build build --target orvgallery)"; exit 1; }

. "$here/tools/session.sh"
orv_session_begin orvmon-shots
orv_emulator_pty "$bin"
if [ -z "$device" ]; then
  echo "screenshots.sh: the emulator did not start: $(tr '\n' ' ' <"$session/emulator.err")"
  exit 1
fi
export ORVCOMM_COM1="$device"

# Symbol names of the full 40 characters, and short ones beside them.
long="Conveyor_Infeed_Photo_Eye_Blocked_Alarm1"
{
  for n in 1 2 3 5 8 13 40000; do echo "1024 $n 0 ${long:0:37}_$n"; done | cut -c1-200
  echo "1024 4 0 Speed"
  for n in 1 2 3; do echo "64 $n 0 ${long:0:39}$n"; done
  for n in 1 2; do echo "128 $n 0 ${long:0:39}$n"; echo "128 $n 1 Input_${n}_On"; done
  for n in 1 2; do echo "131072 $n 0 ${long:0:39}$n"; echo "131072 $n 1 Output_${n}_On"; done
  for n in 1 2; do echo "2 $n 0 ${long:0:39}$n"; echo "4 $n 0 ${long:0:39}$n"; done
  echo "2048 1 0 ${long}"
} >"$session/PLANT.SYM"

orv_session_settings "$session/settings.txt" 'dword "Update" 200'
export ORVMON_SETTINGS="$session/settings.txt"
export ORVMON_DATA_DIR="$session"
export ORVMON_DDE="orvgallery-$$"
export HOME="$session"  # no desktop settings of the user's

# A window manager (ORV_SHOTS_WM, e.g. twm) frames the windows in
# desktop.png as a desktop would; without one they stand unframed.
cat >"$session/run.sh" <<'RUN'
#!/usr/bin/env bash
if [ -n "${ORV_SHOTS_WM:-}" ]; then
  "$ORV_SHOTS_WM" >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi
"$@"
rc=$?
[ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
exit $rc
RUN
chmod +x "$session/run.sh"

rm -f "$out"/*.png
timeout 240 xvfb-run -a -s "-screen 0 1280x1024x24" "$session/run.sh" "$bin/orvgallery" "$out" "$session/PLANT.SYM"
echo "Pictures in $out: $(ls "$out"/*.png | wc -l)"
