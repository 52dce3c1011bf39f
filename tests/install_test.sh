#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks what a desktop and a packager find
# there: the programs and their version, the desktop entry and the metainfo (through the
# desktop's own validators, pedantic), the icons at every size of the theme, the manual pages
# (rendered by man without a warning, describing every option the programs name), the licence,
# a help page that stands on its own, and Help opened from the installed program through a
# stand-in xdg-open that records what it was asked.
# Usage: install_test.sh BUILD_DIR [WINDOW_PROGRAM_BUILT: 1 or 0]
set -euo pipefail

build=$(cd "$1" && pwd)
window=${2:-1}
here="$(cd "$(dirname "$0")" && pwd)"
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

# One version everywhere: the build's, both programs', the metainfo's latest release; and the
# licence named beside it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "the build has no project version"
for p in "${programs[@]}"; do
  out=$("$prefix/bin/$p" --version 2>&1) || fail "$p --version failed"
  [ "$(printf '%s\n' "$out" | head -n1)" = "Tessaly $version" ] || fail "$p --version says '$out', not 'Tessaly $version'"
  printf '%s\n' "$out" | grep -q 'GPL-3.0-or-later' || fail "$p --version names no licence (GPL-3.0-or-later)"
done

# The licence: the whole GPL, version 3, shipped beside the documentation.
copying="$prefix/share/doc/tessaly/COPYING"
if [ -s "$copying" ]; then
  grep -q 'GNU GENERAL PUBLIC LICENSE' "$copying" && grep -q 'Version 3, 29 June 2007' "$copying" &&
    grep -q 'END OF TERMS AND CONDITIONS' "$copying" || fail "COPYING is not the whole GPL version 3"
else
  fail "share/doc/tessaly/COPYING is missing"
fi

desktop="$prefix/share/applications/tessaly.desktop"
metainfo="$prefix/share/metainfo/org.tessaly.tessaly.metainfo.xml"
help="$prefix/share/tessaly/tessaly.html"
icons="$prefix/share/icons/hicolor"
for f in "$desktop" "$metainfo" "$help" "$prefix/share/man/man1/tessaly-rip.1"; do
  [ -s "$f" ] || fail "${f#"$prefix"/} is missing or empty"
done

# The desktop entry: valid, and what it names is what was installed; files from a file
# manager's "Open With" reach the program, for the disc image types it reads.
icon_name=tessaly
if [ -s "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
  exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -n "$exec_cmd" ] && [ -x "$prefix/bin/$exec_cmd" ] || fail "Exec=$exec_cmd names no installed program"
  grep -q '^Exec=[^ ]* %F$' "$desktop" || fail "Exec does not pass the files opened with the program (%F)"
  for type in application/x-cue application/x-cdrdao-toc application/x-nrg; do
    grep -q "^MimeType=.*$type;" "$desktop" || fail "MimeType lacks $type"
  done
  icon_name=$(sed -n 's/^Icon=//p' "$desktop")
fi

# The metainfo: clean under the pedantic offline validator; its launchable is the installed
# desktop entry; its release is this version, with a date and words; its screenshots are
# shipped in the tree under the names they are published by.
if [ -s "$metainfo" ]; then
  report=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) || fail "appstreamcli rejects the metainfo"
  if printf '%s\n' "$report" | grep -E '^[EWIP]: ' >&2; then
    fail "appstreamcli --pedantic has remarks on the metainfo"
  fi
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ -s "$prefix/share/applications/$launchable" ] || fail "the metainfo launches '$launchable', which is not installed"
  release=$(grep -o '<release [^>]*>' "$metainfo" | head -n1)
  [[ "$release" == *"version=\"$version\""* ]] || fail "the latest release ($release) is not $version"
  [[ "$release" =~ date=\"[0-9]{4}-[0-9]{2}-[0-9]{2}\" ]] || fail "the latest release has no date"
  grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "project_license is not GPL-3.0-or-later"
  shots=$(grep -o '<image[^>]*>[^<]*</image>' "$metainfo" | sed 's/<[^>]*>//g')
  [ "$(printf '%s\n' "$shots" | grep -c .)" -ge 2 ] || fail "the metainfo shows fewer than two screenshots"
  for url in $shots; do
    [ -s "$here/../share/screenshots/$(basename "$url")" ] || fail "screenshot $url is not in share/screenshots/"
  done
fi

# The icons: the theme's sizes as PNG files of those sizes (width and height are the
# big-endian words at bytes 16 and 20), and the scalable one.
for size in 16 32 48 64 128 256; do
  icon="$icons/${size}x${size}/apps/$icon_name.png"
  if [ ! -s "$icon" ]; then
    fail "no ${size}x${size} icon '$icon_name'"
    continue
  fi
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the ${size}x$size icon is not a PNG file"
  got=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}')
  [ "$got" = "${size}x$size" ] || fail "the ${size}x$size icon is $got"
done
svg="$icons/scalable/apps/$icon_name.svg"
[ -s "$svg" ] && grep -q '<svg ' "$svg" || fail "no scalable icon '$icon_name.svg'"

# The manual pages: found by man under the prefix, rendered without a warning, and every
# option a program's --help names is described on its page.
man_pages=(tessaly-rip)
[ "$window" = 1 ] && man_pages+=(tessaly)
for page in "${man_pages[@]}"; do
  file="$prefix/share/man/man1/$page.1"
  if [ ! -s "$file" ]; then
    fail "man1/$page.1 is missing"
    continue
  fi
  [ "$(MANPATH="$prefix/share/man" man -w "$page" 2>/dev/null)" = "$file" ] || fail "man does not find $page under the prefix"
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l --warnings=all "$file" 2>&1 >/dev/null) || fail "man cannot render $page.1"
  [ -z "$warnings" ] || fail "man warns about $page.1: $warnings"
  text=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$file" 2>/dev/null | col -b)
  for option in $("$prefix/bin/$page" --help 2>/dev/null | grep -oE '(^|[ |])--[a-z][a-z0-9-]*' | tr -d ' |' | sort -u); do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$text" || fail "the manual page of $page does not describe $option"
  done
done

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

# Help from the installed program: on an X server of its own, a click on the Help button
# must hand the installed help page (found relative to the program, not where the build was
# configured to go) to xdg-open, here a stand-in that writes down what it was asked.
if [ "$window" = 1 ] && [ -x "$prefix/bin/tessaly" ]; then
  scratch="$prefix/scratch"
  mkdir -p "$scratch/bin" "$scratch/home" "$scratch/config"
  cat >"$scratch/bin/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\n' "$*" >>"$XDG_OPEN_LOG"
EOF
  chmod +x "$scratch/bin/xdg-open"
  cat >"$scratch/help.sh" <<'EOF'
#!/usr/bin/env bash
# On the X server run_x11.sh started: the installed program, a click on Help, and what the
# stand-in xdg-open was asked. $1 the program, $2 a disc image to list.
set -uo pipefail
QT_QPA_PLATFORM=xcb "$1" "$2" >"$XDG_OPEN_LOG.out" 2>&1 &
pid=$!
stop() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
trap stop EXIT
win=""
for _ in $(seq 100); do
  win=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Tessaly' 2>/dev/null | head -n1)
  [ -n "$win" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$win" ]; then
  echo "no window of the installed program appeared" >&2
  cat "$XDG_OPEN_LOG.out" >&2
  exit 1
fi
sleep 0.3
# The pointer comes onto the button, which lights, and the click lands on it.
xdotool mousemove --window "$win" 40 322; sleep 0.15
xdotool mousemove --window "$win" 50 322; sleep 0.15
xdotool click 1
for _ in $(seq 100); do
  [ -s "$XDG_OPEN_LOG" ] && exit 0
  sleep 0.1
done
echo "Help asked xdg-open for nothing" >&2
exit 1
EOF
  chmod +x "$scratch/help.sh"
  demo="$build/demo/demo.cue"
  if PATH="$scratch/bin:$PATH" XDG_OPEN_LOG="$scratch/xdg-open.log" HOME="$scratch/home" \
      XDG_CONFIG_HOME="$scratch/config" "$here/x11/run_x11.sh" "$scratch/help.sh" "$prefix/bin/tessaly" "$demo"; then
    asked=$(head -n1 "$scratch/xdg-open.log")
    [ "${asked#file://}" = "$help" ] || fail "Help asked xdg-open for '$asked', not the installed $help"
  else
    fail "Help could not be opened from the installed program"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed files: all checks passed"
