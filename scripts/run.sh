#!/usr/bin/env bash
# Builds Lensbay and Pinbus, registers PINBUS.OCX in the per-user class registry and starts
# Lensbay on the simulated board: the window where a display is available, the console otherwise.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target lensbay pinbus regsvr ocxhost bmphead1_file
bin="$root/build/bin"
"$bin/regsvr" "$bin/PINBUS.OCX"
# Lensbay writes image.raw and image.bmp into its working directory.
work="${LENSBAY_WORKDIR:-$root/run}"
mkdir -p "$work"
cp -n "$bin/bmphead1" "$work/" 2>/dev/null || true
cd "$work"
export PORTIO="${PORTIO:-sim}"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
  exec "$bin/lensbay" "$@"
fi
echo "No display found: starting the console front end (type 'show', 'press Command1', 'quit')."
exec "$bin/lensbay" --console "$@"
