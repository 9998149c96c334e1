#!/usr/bin/env bash
# Times a 70-minute burn onto the virtual recorder: seven 10-minute WAV
# tracks (44100 Hz stereo, noise, made here and removed afterwards) burned
# with corvid-burn at each given recorder speed (0 = unlimited).
#   bench/burn-70min.sh BUILD_DIR [SPEED...]      e.g. bench/burn-70min.sh build 0 52
# Uses a recorder directory of its own; prints one line per speed and checks
# the cue sheet with cuebreakpoints when it is installed.
set -euo pipefail
build=${1:?usage: bench/burn-70min.sh BUILD_DIR [SPEED...]}
shift
speeds=("$@")
[ ${#speeds[@]} -eq 0 ] && speeds=(0 52)
bin="$(cd "$build" && pwd)/app/corvid-burn"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CORVID_VIRTUAL_RECORDER="$work/recorder"

# A canonical 44-byte WAV header for bytes of 16-bit stereo PCM at 44100 Hz.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
wav_header() {
  printf 'RIFF'; le32 $(($1 + 36)); printf 'WAVEfmt '; le32 16
  printf '\x01\x00\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00'
  printf 'data'; le32 "$1"
}
bytes=$((10 * 60 * 176400))
files=()
for i in 1 2 3 4 5 6 7; do
  f="$work/track$i.wav"
  { wav_header "$bytes"; head -c "$bytes" /dev/urandom; } > "$f"
  files+=("$f")
done

for speed in "${speeds[@]}"; do
  "$bin" virtual insert cdr80 >/dev/null
  "$bin" virtual set speed="$speed" >/dev/null
  start=$(date +%s.%N)
  "$bin" burn -d virtual --pause 150 "${files[@]}" 2>/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v v="$speed" 'BEGIN { printf "speed %-3s 70:00 of audio burned in %.1f s\n", v, e - s }'
  if command -v cuebreakpoints >/dev/null; then
    echo "  cuebreakpoints: $(cuebreakpoints "$CORVID_VIRTUAL_RECORDER/disc.cue" | tr '\n' ' ')"
  fi
done
