#!/bin/sh
# Runs a test program on an X server of its own (Xvfb, on a display number
# it chooses itself) whose windows matchbox-window-manager manages, then
# stops both. Without Xvfb or matchbox the program runs on the offscreen
# platform with TONVERO_NO_WINDOW_MANAGER saying what is missing, and skips.
#
#   run-under-matchbox.sh PROGRAM [ARGUMENT...]
set -u
program=$1
shift

missing=""
for tool in Xvfb matchbox-window-manager; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  TONVERO_NO_WINDOW_MANAGER="not installed:$missing (scripts/bootstrap installs them)" \
    QT_QPA_PLATFORM=offscreen exec "$program" "$@"
fi

work=$(mktemp -d)
server=""
manager=""
finish() {
  [ -n "$manager" ] && kill "$manager" 2>/dev/null && wait "$manager" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

# The server writes the display number it took once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/server.log" &
server=$!
waited=0
until [ -s "$work/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ "$waited" -ge 1200 ]; then
    echo "run-under-matchbox: Xvfb did not start:" >&2
    cat "$work/server.log" >&2
    exit 1
  fi
  sleep 0.1
  waited=$((waited + 1))
done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# The program itself waits until matchbox manages the screen.
matchbox-window-manager >"$work/manager.log" 2>&1 &
manager=$!

QT_QPA_PLATFORM=xcb "$program" "$@"
status=$?
if [ "$status" -ne 0 ] && [ -s "$work/manager.log" ]; then
  echo "run-under-matchbox: matchbox said:" >&2
  cat "$work/manager.log" >&2
fi
exit "$status"
