#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine (run as root).
#   install-deps.sh minimal   what `make run` builds with: the compiler, CMake,
#                             pkg-config, libsndfile, libebur128, cairo,
#                             FFmpeg's libraries (formats, codecs, resampling)
#   install-deps.sh [full]    everything `make test` needs besides: the Windows
#                             cross compilers and Wine, the test frameworks,
#                             the LV2/LADSPA hosts, peer plug-ins, OBS Studio
#                             and its module SDK, the live hosts
#                             and servers, the packaging tools
#   install-deps.sh bench     full, and the recordings `make bench-quality`
#                             plays (Debian's wesnoth-1.16-music)
# Idempotent: when every package is already present, apt is not called at all.
set -euo pipefail

set_name=${1:-full}

minimal=(
  build-essential cmake pkg-config
  libsndfile1-dev libebur128-dev libcairo2-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
)
full=(
  "${minimal[@]}"
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  wine wine32:i386 wine64
  xvfb xauth imagemagick
  lv2-dev ladspa-sdk liblilv-dev lilv-utils sordi ffmpeg sox
  x42-plugins calf-plugins lsp-plugins-lv2
  liquidsoap icecast2
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  mpv pipewire pipewire-bin wireplumber dbus
  nsis unzip dpkg-dev lintian man-db
  libx11-dev python3
  jalv jackd2 libsuil-0-0
  obs-studio libobs-dev
)
bench=(
  "${full[@]}"
  wesnoth-1.16-music
)

case $set_name in
  minimal) packages=("${minimal[@]}") ;;
  full) packages=("${full[@]}") ;;
  bench) packages=("${bench[@]}") ;;
  *) echo "usage: install-deps.sh [minimal|full|bench]" >&2; exit 2 ;;
esac

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
if [ "$set_name" != minimal ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
