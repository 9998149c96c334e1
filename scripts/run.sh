#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the main job: lists the drives
# that corvid-burn finds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
"$dir/app/corvid-burn" devices
