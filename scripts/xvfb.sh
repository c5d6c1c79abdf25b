# Sourced by the scripts: starts a private Xvfb display on a free number,
# exports DISPLAY and stops the server when the calling shell exits.
start_private_display() {
  local n
  for n in $(seq 91 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -nolisten tcp -screen 0 1280x800x24 >/dev/null 2>&1 &
      TAMSA_XVFB_PID=$!
      local i
      for i in $(seq 1 50); do
        if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
          export DISPLAY=":$n"
          trap 'kill "$TAMSA_XVFB_PID" 2>/dev/null; wait "$TAMSA_XVFB_PID" 2>/dev/null || true' EXIT
          echo "private X display $DISPLAY (Xvfb pid $TAMSA_XVFB_PID)"
          return 0
        fi
        sleep 0.1
      done
      kill "$TAMSA_XVFB_PID" 2>/dev/null || true
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}
