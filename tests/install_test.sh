#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop finds there: the
# programs, the desktop entry and the metainfo (through the desktop's own validators), the
# icon the entry names, and a help page that stands on its own.
# Usage: install_test.sh BUILD_DIR [WINDOW_PROGRAM_BUILT: 1 or 0]
set -euo pipefail

build=$1
window=${2:-1}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null

programs=(tessaly-rip)
[ "$window" = 1 ] && programs+=(tessaly)
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not installed as a program"
done
# The installed command-line program runs from its new place.
"$prefix/bin/tessaly-rip" --help >/dev/null || fail "installed tessaly-rip --help failed"

desktop="$prefix/share/applications/tessaly.desktop"
metainfo="$prefix/share/metainfo/org.tessaly.Tessaly.metainfo.xml"
help="$prefix/share/tessaly/tessaly.html"
icon="$prefix/share/icons/hicolor/256x256/apps/tessaly.png"
for f in "$desktop" "$metainfo" "$help" "$icon"; do
  [ -s "$f" ] || fail "${f#"$prefix"/} is missing or empty"
done

# The desktop entry: valid, and what it names is what was installed.
if [ -s "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
  exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -n "$exec_cmd" ] && [ -x "$prefix/bin/$exec_cmd" ] || fail "Exec=$exec_cmd names no installed program"
  icon_name=$(sed -n 's/^Icon=//p' "$desktop")
  [ -s "$prefix/share/icons/hicolor/256x256/apps/$icon_name.png" ] ||
    fail "Icon=$icon_name names no icon in the hicolor theme"
fi

# The metainfo: valid offline, and its launchable is the installed desktop entry.
if [ -s "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo" >&2 || true
    fail "appstreamcli rejects the metainfo"
  }
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ -s "$prefix/share/applications/$launchable" ] || fail "the metainfo launches '$launchable', which is not installed"
fi

# The icon: a 256 x 256 PNG (width and height are the big-endian words at bytes 16 and 20).
if [ -s "$icon" ]; then
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the icon is not a PNG file"
  size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}')
  [ "$size" = 256x256 ] || fail "the icon is $size, not 256x256"
fi

# The help page: whole, and self-contained: nothing loaded from elsewhere, and no link out
# but the maker's address.
if [ -s "$help" ]; then
  grep -qi '^<!DOCTYPE html>' "$help" || fail "the help page has no HTML doctype"
  grep -qi '</html>' "$help" || fail "the help page is cut short"
  if grep -Eio '(src|href)="[^"#][^"]*"' "$help" | grep -Eiv '"https://tessaly\.org/?"$' >&2; then
    fail "the help page links or loads something other than https://tessaly.org"
  fi
  if grep -Eio '<(link|script|iframe|img|object|embed)\b|@import|url\(' "$help" >&2; then
    fail "the help page pulls in outside resources"
  fi
  for anchor in $(grep -o 'href="#[^"]*"' "$help" | sed 's/href="#\(.*\)"/\1/' | sort -u); do
    grep -q "id=\"$anchor\"" "$help" || fail "the help page links to #$anchor, which it does not hold"
  done
  for topic in tessaly-rip cdplayer.ini 'Select all' WAV MP3 'Replace All' Options; do
    grep -q "$topic" "$help" || fail "the help page never mentions '$topic'"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed files: all checks passed"
