#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the main job: burns the demo
# album (tests/fixtures/demo: a
# WAV, an MP3 and an Ogg Vorbis track) onto a fresh blank CD-R in the
# virtual recorder and says where the disc image is.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
bin="$dir/app/corvid-burn"
"$bin" virtual insert cdr80
"$bin" burn -d virtual tests/fixtures/demo/01-intro.wav tests/fixtures/demo/02-theme.mp3 \
  tests/fixtures/demo/03-coda.ogg
