#!/usr/bin/env bash
# Installs the dependencies, builds and runs every test.
#   scripts/test.sh [--sanitize LIST] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
if [ "${1:-}" = "--sanitize" ]; then sanitize="$2"; shift 2; fi

scripts/install-deps.sh
dir=$(scripts/build.sh --sanitize "$sanitize" | tail -n 1)

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" "$@"
