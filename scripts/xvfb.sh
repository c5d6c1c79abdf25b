# Sourced by the scripts: starts a private Xvfb display, exports DISPLAY and
# stops the server when the calling shell exits. Xvfb itself picks a free
# display number (-displayfd), so runs at the same time never meet.

TAMSA_XVFB_PID=
TAMSA_XVFB_DIR=

# Stops the display; safe to call twice and never fails.
stop_private_display() {
  if [ -n "$TAMSA_XVFB_PID" ]; then
    kill "$TAMSA_XVFB_PID" 2>/dev/null || true
    wait "$TAMSA_XVFB_PID" 2>/dev/null || true
    TAMSA_XVFB_PID=
  fi
  if [ -n "$TAMSA_XVFB_DIR" ]; then
    rm -rf "$TAMSA_XVFB_DIR" || true
    TAMSA_XVFB_DIR=
  fi
}

# The exit status of the script stays what it was: stopping the display
# never turns a pass into a failure.
on_exit_stop_private_display() {
  local status=$?
  stop_private_display
  exit "$status"
}

start_private_display() {
  TAMSA_XVFB_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tamsa-xvfb.XXXXXX")
  local number_file="$TAMSA_XVFB_DIR/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$number_file" >/dev/null 2>&1 &
  TAMSA_XVFB_PID=$!
  trap on_exit_stop_private_display EXIT
  local i n=
  for i in $(seq 1 100); do
    n=$(head -n 1 "$number_file" 2>/dev/null || true)
    if [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
      export DISPLAY=":$n"
      echo "private X display $DISPLAY (Xvfb pid $TAMSA_XVFB_PID)"
      return 0
    fi
    if ! kill -0 "$TAMSA_XVFB_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  stop_private_display
  echo "could not start Xvfb" >&2
  return 1
}
