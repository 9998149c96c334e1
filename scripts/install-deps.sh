#!/usr/bin/env bash
# Installs what corvid-burner needs to build and test, from Debian 12's own
# packages. Runs apt-get through sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  nlohmann-json3-dev libcli11-dev
  libmpg123-dev libogg-dev libvorbis-dev libavcodec-dev libavutil-dev libavformat-dev libsoxr-dev
  libflac-dev libopus-dev
  qt6-base-dev
  # tests
  libgtest-dev libgmock-dev cuetools bchunk
  # tests: independent burning programs run on the virtual recorder
  cdrskin wodim cdrdao
)

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
