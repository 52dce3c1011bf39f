#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs every test: a normal build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== Build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
# The x11 scenario (tests/x11/run_x11.sh) runs tessaly on an X server of its own, on a free
# display, never the user's; it leaves screenshots of the window in the build folder.
echo "Screenshots of the window: build/tessaly-main.png build/tessaly-hover.png build/tessaly-menu.png build/tessaly-lookup-*.png"

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Fuzz the INI reader, the tag reader and the disc-image readers (bounded time)"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_FUZZ=ON -DTESSALY_GUI=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs" --target ini_fuzz tag_fuzz image_fuzz
seconds="${TESSALY_FUZZ_SECONDS:-60}"
# name, seed folder, largest input
failed=0
for fuzzer in "ini_fuzz tests/fuzz/seeds 4096" "tag_fuzz tests/fuzz/seeds 4096" \
            "image_fuzz tests/fuzz/image-seeds 32768"; do
  read -r f seeds len <<<"$fuzzer"
  mkdir -p "build-fuzz/corpus-$f"
  # The whole output goes to a log; on a find, its report (and the input that made it, kept
  # under build-fuzz/) is printed, so the failure can be read where the run was.
  # libcdio's image parsers leak on some malformed sheets: listed for the image fuzzer only.
  supp=""
  [ "$f" = image_fuzz ] && supp="suppressions=$PWD/tests/fuzz/image_fuzz.supp"
  if LSAN_OPTIONS="$supp" "build-fuzz/$f" -max_total_time="$seconds" -max_len="$len" -timeout=30 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/$f-" "build-fuzz/corpus-$f" "$seeds" >"build-fuzz/$f.log" 2>&1; then
    tail -n 3 "build-fuzz/$f.log"
  else
    failed=$((failed + 1))
    echo "$f found a fault:"
    sed -n '/==ERROR\|deadly signal\|ERROR: libFuzzer/,$p' "build-fuzz/$f.log" | head -n 80
  fi
done
echo "fuzzing: $((3 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
