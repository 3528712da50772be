#!/usr/bin/env bash
# Builds Lensbay, Pinbus, the tools and the GStreamer plugin, registers PINBUS.OCX in the per-user
# class registry and starts Lensbay on the simulated board, in run/ (or $LENSBAY_WORKDIR): the
# window where a display is available, the console otherwise.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The GStreamer plugin too, for the README's pipelines (its target exists where GStreamer's
# development files are, which deps.sh installs).
targets=(lensbay pinbus regsvr ocxhost bmphead1_file)
if cmake --build "$root/build" --target help | grep -q '^\.\.\. gstlensbay$'; then
  targets+=(gstlensbay)
fi
cmake --build "$root/build" -j"$(nproc)" --target "${targets[@]}"
bin="$root/build/bin"
"$bin/regsvr" "$bin/PINBUS.OCX"
# Lensbay writes image.raw, image.bmp and image.json into its working directory: run/.
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
