# Sourced by run-monitor.sh and screenshots.sh: a session folder that is
# removed at exit, the emulator on a pseudo-terminal, and a settings file
# with COM port 1 on it.

# orv_session_begin PREFIX: makes $session and removes it (and stops the
# emulator) when the script ends.
orv_session_begin() {
  session="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
  emu_pid=""
  trap orv_session_end EXIT INT TERM
}
orv_session_end() {
  orv_emulator_stop
  rm -rf "$session"
}
orv_emulator_stop() {
  if [ -n "${emu_pid:-}" ]; then
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
  fi
  emu_pid=""
}

# orv_emulator_pty BIN [ARGS...]: starts orvemu --pty ARGS; sets $device to
# the line it serves (empty, with the emulator stopped, when it could not).
orv_emulator_pty() {
  local bin=$1
  shift
  device=""
  "$bin/orvemu" --pty "$@" >"$session/emulator.out" 2>"$session/emulator.err" &
  emu_pid=$!
  for _ in $(seq 100); do
    device="$(sed -n 's/^serial //p' "$session/emulator.out" | head -n1)"
    [ -n "$device" ] && break
    kill -0 "$emu_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$device" ] || orv_emulator_stop
}

# orv_session_settings FILE [LINES...]: COM port 1 at 9600 baud (port kind
# 3 is COM1), every section the program uses, LINES under [DDE Setup].
orv_session_settings() {
  local file=$1
  shift
  {
    echo "# orvmon settings for one session against the emulator"
    echo "[Communications]"
    echo 'dword "COMM Port" 3'
    echo 'dword "BAUD Rate" 9600'
    echo 'dword "Timeout" 300'
    echo "[DDE Setup]"
    for line in "$@"; do echo "$line"; done
    for s in Files Main Registers NVram Analin Analout Custom1 Custom2 Flags Digin Digout Servo Status Dtable; do
      echo "[$s]"
    done
  } >"$file"
}
