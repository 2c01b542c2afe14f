#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (run as root).
# Idempotent: when every package is already present, apt is not called at all.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  libsndfile1-dev libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  wine wine32:i386 wine64
  xvfb xauth imagemagick
  lv2-dev ladspa-sdk liblilv-dev lilv-utils sordi ffmpeg sox
  x42-plugins calf-plugins lsp-plugins-lv2
  nsis unzip dpkg-dev lintian man-db
  libebur128-dev libcairo2-dev libx11-dev python3
  jalv jackd2 libsuil-0-0
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or install them yourself) and try again" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
