#!/usr/bin/env bash
# Sets up, builds, and runs Tessaly on the demo disc.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exec build/tessaly-rip build/demo/demo.cue --drive "$(($(build/tessaly-rip build/demo/demo.cue --list 2>/dev/null | grep -c '^Drive ') - 1))" --list
