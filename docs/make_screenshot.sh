#!/usr/bin/env bash
# Takes docs/screenshot.png: corvid-burner on a real X server (Xvfb), with
# the demo album in its list and the virtual recorder as its drive, captured
# as the X server shows the window.
#   docs/make_screenshot.sh [BUILD_DIR] [FILE...]
# BUILD_DIR defaults to build/; FILE... to the demo album.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
exe=$build/app/corvid-burner
if [ ! -x "$exe" ]; then
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

# A recorder of its own, with a blank CD-R in it.
recorder=$(mktemp -d)
trap 'rm -rf "$recorder"' EXIT
export CORVID_VIRTUAL_RECORDER=$recorder

QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -nolisten tcp" \
  "$exe" --screenshot docs/screenshot.png "${files[@]}"
echo "docs/screenshot.png"
