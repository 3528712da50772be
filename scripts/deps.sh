#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail
packages=(build-essential cmake clang libclang-rt-dev libgtest-dev libgmock-dev googletest
          libbenchmark-dev qt6-base-dev libgl-dev fonts-liberation xvfb xauth xdotool x11-utils
          imagemagick dpkg-dev file pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
          gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x
          python3-gi python3-numpy gir1.2-gstreamer-1.0 gir1.2-gst-plugins-base-1.0 qt6-wayland
          qemu-system-x86 busybox-static cpio clang-format python3 git wine wine64 wine64-tools
          g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64 pybind11-dev python3-dev python3-pytest)
# Wine's 32-bit side, for the 32-bit build of PINBUS.OCX (build/wine32) and its tests: i386
# packages beside the 64-bit ones.
packages+=(wine32:i386 libwine-dev:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for wine32:i386 and libwine-dev:i386)"
  $sudo dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one list's update: tried again, then the install goes on with
# the lists that arrived.
for attempt in 1 2 3; do
  $sudo apt-get update && break
  echo "apt-get update failed (attempt $attempt of 3)"
  [ "$attempt" -lt 3 ] && sleep 30
done
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
