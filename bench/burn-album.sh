#!/usr/bin/env bash
# Burn benchmarks on a 74-minute album of twelve 128 kbit/s MP3s, made here
# with sox and lame, each figure set against ffmpeg decoding the same files
# in the same run. Asserts nothing; prints what it measured.
#
#   bench/burn-album.sh BUILD_DIR
#
# 1. Image burn: the whole `corvid-burn burn` onto the virtual recorder at
#    speed 0 (start to "Write Done!") against ffmpeg decoding the album.
# 2. Under load: a 52x burn with a 1 MiB drive buffer, as an unprivileged
#    user (a throwaway system user when run as root), while two processes
#    keep both cores busy: underruns, the lowest drive buffer fill after
#    priming, CPU use.
# 3. Peak resident memory of both burns against the cache size + 32 MiB.
#
# Environment: CORVID_BENCH_ALBUM=DIR keeps the album there between runs
# (made when missing); CORVID_BENCH_USER=NAME the unprivileged user (default
# corvid-bench, created when missing and run as root).
set -euo pipefail
build=${1:?usage: bench/burn-album.sh BUILD_DIR}
bin="$(cd "$build" && pwd)/app/corvid-burn"
[ -x "$bin" ] || { echo "no $bin: build corvid-burn first" >&2; exit 1; }
for tool in sox lame ffmpeg /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/corvid-bench.XXXXXX)
chmod 755 "$work"
hogs=()
cleanup() {
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "machine: $(nproc) CPUs, load average $(load) at start"

# --- the album: 12 x 370 s = 74:00, 44.1 kHz stereo, 128 kbit/s CBR
album=${CORVID_BENCH_ALBUM:-$work/album}
mkdir -p "$album"
chmod 755 "$album"
make_track() {
  local n=$1 out="$album/track$(printf %02d "$1").mp3"
  [ -s "$out" ] && return 0
  # A chord that moves with the track number over quiet noise: real music
  # costs the decoder about the same at a fixed bit rate.
  local f=$((110 + n * 20))
  sox -q -n -r 44100 -c 2 -b 16 -t wav - synth 370 sine "$f" sine "$((f * 5 / 4))" sine "$((f * 3 / 2))" \
      pinknoise remix 1,2,3,4 1,2,3,4 tremolo 3 40 vol 0.25 2>/dev/null |
    lame --quiet -b 128 --cbr -q 7 - "$out.part"
  mv "$out.part" "$out"
}
started=$(date +%s)
for n in $(seq 1 12); do
  make_track "$n" &
  # Two encoders at a time.
  if (( n % 2 == 0 )); then wait; fi
done
wait
files=("$album"/track*.mp3)
chmod 644 "${files[@]}"
echo "album: ${#files[@]} MP3s, 74:00 at 128 kbit/s ($(du -sh "$album" | cut -f1)), ready in $(( $(date +%s) - started )) s"

# Runs a command; prints its wall seconds, CPU seconds and peak RSS (KiB)
# as "WALL CPU RSS" on the last line of the file named by $1.
timed() {
  local report=$1; shift
  /usr/bin/time -o "$report" -f '%e %U %S %M' "$@"
}
field() { awk -v i="$2" 'END { print $i }' "$1"; }

# --- baseline: ffmpeg decodes the album (the same PCM a burn writes)
timed "$work/ffmpeg.time" bash -c 'for f; do ffmpeg -nostdin -v error -i "$f" -f s16le -ac 2 -ar 44100 -y /dev/null; done' _ "${files[@]}"
ffmpeg_s=$(field "$work/ffmpeg.time" 1)
echo "ffmpeg decodes the album in ${ffmpeg_s} s"

# --- 1. image burn at speed 0
export CORVID_VIRTUAL_RECORDER="$work/recorder-image"
"$bin" virtual insert cdr80 >/dev/null
"$bin" virtual set speed=0 >/dev/null
echo "load average $(load) before the image burn"
timed "$work/image.time" "$bin" burn -d virtual "${files[@]}" >"$work/image.out" 2>"$work/image.err" || {
  echo "image burn failed:"; cat "$work/image.out" "$work/image.err"; exit 1; }
grep -q '^Write Done!$' "$work/image.out" || { echo "no Write Done!"; cat "$work/image.out"; exit 1; }
image_s=$(field "$work/image.time" 1)
image_cpu=$(awk 'END { print $2 + $3 }' "$work/image.time")
image_rss=$(field "$work/image.time" 4)
awk -v b="$image_s" -v f="$ffmpeg_s" -v c="$image_cpu" \
  'BEGIN { printf "image burn (speed 0, start to Write Done!): %.1f s, %.2fx ffmpeg (goal 1.5x), CPU %.1f s\n", b, b / f, c }'

# --- 2. under load: 52x, 1 MiB drive buffer, unprivileged, both cores busy
user=${CORVID_BENCH_USER:-corvid-bench}
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  uid=$(id -u "$user"); gid=$(id -g "$user")
  as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups --inh-caps=-all --)
fi
export CORVID_VIRTUAL_RECORDER="$work/recorder-load"
mkdir -p "$CORVID_VIRTUAL_RECORDER"
[ ${#as_user[@]} -gt 0 ] && chown "$user" "$CORVID_VIRTUAL_RECORDER"
"${as_user[@]}" "$bin" virtual insert cdr80 >/dev/null
"${as_user[@]}" "$bin" virtual set speed=52 buffer-kib=1024 >/dev/null
for _ in 1 2; do
  "${as_user[@]}" sh -c 'while :; do :; done' &
  hogs+=($!)
done
sleep 1
echo "load average $(load) before the 52x burn (two busy processes running)"
timed "$work/load.time" "${as_user[@]}" env HOME="$work" "$bin" burn -d virtual "${files[@]}" \
  >"$work/load.out" 2>"$work/load.err" || true
for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
wait "${hogs[@]}" 2>/dev/null || true
hogs=()
tail -n 2 "$work/load.out"
"$bin" virtual show --json >"$work/load.json"
python3 - "$work/load.json" "$work/load.time" "${#files[@]}" <<'EOF'
import json, sys
state = json.load(open(sys.argv[1]))
wall, user, system, rss = (float(x) for x in open(sys.argv[2]).read().split()[-4:])
counters = state.get("counters", {})
sectors = counters.get("sectors-written", 0)
lowest = counters.get("lowest-fill-percent")
floor = sectors / (52 * 75.0)
print("52x under load, unprivileged, 1 MiB buffer: %.1f s (52x floor %.1f s), underruns %d (goal 0)"
      % (wall, floor, counters.get("underruns", -1)))
print("  lowest drive buffer fill after priming: %s (goal >= 50%%)"
      % ("%d%%" % lowest if lowest is not None and lowest >= 0 else "not reported"))
print("  CPU: %.1f s user + %.1f s system = %.0f%% of one core" % (user, system, 100 * (user + system) / wall))
EOF
load_rss=$(field "$work/load.time" 4)

# --- 3. peak memory against the cache: ten seconds of audio at the write
# speed (the recorder names 48x as its fastest), at least 8 MiB
cache_kib=$(( 10 * 48 * 75 * 2352 / 1024 ))
awk -v a="$image_rss" -v b="$load_rss" -v c="$cache_kib" 'BEGIN {
  printf "peak resident memory: image burn %.1f MiB, 52x burn %.1f MiB; cache %.1f MiB + 32 MiB = %.1f MiB (ratios %.2f, %.2f)\n",
    a / 1024, b / 1024, c / 1024, (c + 32768) / 1024, a / (c + 32768), b / (c + 32768) }'
echo "load average $(load) at the end"
