#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need,
# skipping those already present. Run as root on a Debian machine.
set -euo pipefail

packages=(build-essential cmake pkg-config libx11-dev libpng-dev zlib1g-dev
          libgtest-dev libbenchmark-dev xvfb x11-utils libxtst-dev
          imagemagick libgif-dev gifsicle clang proj-bin libproj-dev
          ghostscript hp2xx groff man-db dpkg-dev file util-linux)
if [ "${1:-}" = "--runtime" ]; then
  packages=(build-essential cmake libx11-dev libpng-dev zlib1g-dev xvfb x11-utils)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
