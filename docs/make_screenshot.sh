#!/usr/bin/env bash
# Takes docs/screenshot.png: corvid-burner on a real X server (Xvfb), with
# the demo album in its list and the virtual recorder as its drive, driven
# through a burn and captured as the X server shows the window: before the
# burn, while the second half is written (the README's picture) and after.
#   docs/make_screenshot.sh [BUILD_DIR] [FILE...]
# BUILD_DIR defaults to build/; FILE... to the demo album. The three
# pictures stay in a temporary folder, named at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
exe=$build/app/corvid-burner
cli=$build/app/corvid-burn
if [ ! -x "$exe" ] || [ ! -x "$cli" ]; then
  echo "make_screenshot.sh: no $exe: build it first (scripts/build.sh)" >&2
  exit 1
fi
command -v xvfb-run >/dev/null || { echo "make_screenshot.sh: needs xvfb-run (Debian package xvfb)" >&2; exit 1; }

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  for f in tests/fixtures/demo/*; do
    case "$f" in *.wav|*.mp3|*.ogg|*.wma) files+=("$PWD/$f") ;; esac
  done
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "make_screenshot.sh: no demo album found and no files given" >&2
  exit 1
fi

# A recorder of its own, with a blank CD-R in it, writing at 2x so that the
# burn can be seen under way.
recorder=$(mktemp -d)
shots=$(mktemp -d)
trap 'rm -rf "$recorder"' EXIT
export CORVID_VIRTUAL_RECORDER=$recorder
"$cli" virtual set speed=2 buffer-kib=256 >/dev/null

QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -nolisten tcp" \
  "$exe" --burn --screenshot "$shots/window.png" "${files[@]}"
cp "$shots/window-during.png" docs/screenshot.png
echo "docs/screenshot.png (before, during and after: $shots)"
