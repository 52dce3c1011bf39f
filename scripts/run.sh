#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds, and starts Tessaly on the demo disc. Without a display to open, it says so
# and lists the demo disc with tessaly-rip instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/tessaly build/demo/demo.cue
fi
echo "No display to open (DISPLAY and WAYLAND_DISPLAY are unset): listing the demo disc instead." >&2
demo_drive=$(($(build/tessaly-rip build/demo/demo.cue --list 2>/dev/null | grep -c '^Drive ') - 1))
exec build/tessaly-rip build/demo/demo.cue --drive "$demo_drive" --list
