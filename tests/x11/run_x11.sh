#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on an X server of its own: Xvfb on a free display number, with a window
# manager (openbox) so that moving and minimizing windows work as on a desktop. The display
# the user may have is never used. Both servers are stopped by their process ids at the end.
#
#   run_x11.sh COMMAND [ARG...]
set -uo pipefail

for tool in Xvfb openbox xdotool xprop xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "run_x11.sh: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

here="$(cd "$(dirname "$0")" && pwd)"
# Under the sanitizers: a system library's leak is not the program's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"

work="$(mktemp -d)"
xvfb=""
wm=""
stop() {
  if [ -n "$wm" ]; then kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; fi
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

# Xvfb picks the first free display number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb" 2>/dev/null; then cat "$work/xvfb.log" >&2; exit 1; fi
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "run_x11.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
export XAUTHORITY="$work/Xauthority"
unset WAYLAND_DISPLAY

# The window manager keeps its own files in the scratch folder.
HOME="$work" XDG_CONFIG_HOME="$work/config" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  echo "run_x11.sh: the window manager did not start" >&2
  cat "$work/openbox.log" >&2
  exit 1
fi

"$@"
rc=$?
exit "$rc"
