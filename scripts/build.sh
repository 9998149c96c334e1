#!/usr/bin/env bash
# Configures and builds corvid-burner.
#   scripts/build.sh [--sanitize LIST] [--dir DIR] [--target T]... [-- extra cmake arguments]
# LIST is what -fsanitize= takes: address,undefined or thread. The build goes
# to build/ (build-<LIST> with a sanitizer) unless --dir says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
dir=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --target) targets+=(--target "$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "build.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$dir" ]; then
  dir=build
  [ -n "$sanitize" ] && dir="build-${sanitize//,/-}"
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" -DCORVID_WERROR=ON -DCORVID_SANITIZE="$sanitize" "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
echo "$dir"
