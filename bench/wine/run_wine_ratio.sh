#!/usr/bin/env bash
# The Wine build of PINBUS.OCX against the native build: Value puts through IDispatch::Invoke on
# the simulated board, timed by one program built twice (value_put_timing natively, and
# value_put_timing.exe.so with wineg++), run in turns; prints each side's median time per put and
# their ratio, measured in the same run. Where the 32-bit build and Wine's 32-bit side are there,
# the same program built with -m32 (value_put_timing32.exe.so) takes its turns against the 32-bit
# module in the same run, with a ratio of its own.
#
#   bash bench/wine/run_wine_ratio.sh [BUILD_DIR] [ROUNDS]
#
# BUILD_DIR defaults to ./build beside the bench folder, ROUNDS (turns of each side) to 5. With
# WINEPREFIX set, Pinbus must be registered there (build/wine/register_pinbus.sh); without it a
# prefix of the run's own is made and removed again (half a minute or so).
set -u -o pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)" || exit 1
rounds=${2:-5}
native_timer=$build/bin/value_put_timing
wine_timer=$build/bench/wine/value_put_timing.exe.so
for f in "$native_timer" "$wine_timer" "$build/bin/regsvr" "$build/bin/PINBUS.OCX" \
  "$build/wine/register_pinbus.sh"; do
  [ -e "$f" ] || { echo "missing $f: build first, with Wine's tools installed" >&2; exit 1; }
done
# The 64-bit loader (plain `wine` is the 32-bit one where Debian's wine32 is installed).
wine64=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } ||
  command -v wine) || { echo "wine is not installed" >&2; exit 1; }
# The 32-bit loader where Wine's 32-bit side is installed (Debian's wine32), and the 32-bit timing.
wine32_timer=$build/bench/wine/value_put_timing32.exe.so
wine32=''
if [ -x /usr/lib/wine/wine ]; then
  wine32=/usr/lib/wine/wine
elif command -v wine64 >/dev/null && command -v wine >/dev/null; then
  wine32=$(command -v wine)
fi
sides=(native wine)
if [ -n "$wine32" ] && [ -e "$wine32_timer" ] && [ -e "$build/wine32/PINBUS.OCX.so" ]; then
  sides+=(wine32)
else
  echo "the 32-bit build is not measured (it needs the 32-bit build and Wine's 32-bit side)" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lensbay-wine-ratio.XXXXXX") || exit 1
own_prefix=""
cleanup() {
  [ -n "$own_prefix" ] && WINEPREFIX=$own_prefix timeout 60 wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export OLE_REGISTRY=$work/native.reg OLE_MACHINE_REGISTRY=$work/machine.reg
"$build/bin/regsvr" "$build/bin/PINBUS.OCX" >/dev/null || exit 1
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$work/prefix
  export WINEPREFIX=$own_prefix
  bash "$build/wine/register_pinbus.sh" "$WINEPREFIX" >/dev/null || exit 1
fi
export WINEDEBUG=-all WINEDLLPATH=$WINEPREFIX/drive_c/pinbus
export PORTIO=sim LENSBAY_SIM_STATE=$work/sim-board
unset PORTIO_TRACE DISPLAY WAYLAND_DISPLAY
# The Wine session starts once, before the first timed turn.
timeout 120 "$wine64" "$wine_timer" 1000 1 >/dev/null || { echo "the Winelib timing failed" >&2; exit 1; }
if [ "${#sides[@]}" = 3 ]; then
  timeout 120 "$wine32" "$wine32_timer" 1000 1 >/dev/null ||
    { echo "the 32-bit Winelib timing failed" >&2; exit 1; }
fi

: >"$work/native" && : >"$work/wine" && : >"$work/wine32"
for ((r = 0; r < rounds; ++r)); do
  "$native_timer" >>"$work/native" || exit 1
  timeout 300 "$wine64" "$wine_timer" 2>/dev/null | tr -d '\r' >>"$work/wine" || exit 1
  if [ "${#sides[@]}" = 3 ]; then
    timeout 300 "$wine32" "$wine32_timer" 2>/dev/null | tr -d '\r' >>"$work/wine32" || exit 1
  fi
done
# The median of one field (cpu or real) over a side's turns.
median() {
  sed -n "s/.*$2=\([0-9.]*\).*/\1/p" "$1" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
for side in "${sides[@]}"; do
  echo "$side: $(median "$work/$side" cpu) ns CPU, $(median "$work/$side" real) ns wall per put (median of $rounds)"
done
awk -v nc="$(median "$work/native" cpu)" -v nr="$(median "$work/native" real)" \
  -v wc="$(median "$work/wine" cpu)" -v wr="$(median "$work/wine" real)" \
  'BEGIN { printf "RATIO wine_value_put_to_native cpu=%.2f real=%.2f goal=none(reported)\n", wc / nc, wr / nr }'
if [ "${#sides[@]}" = 3 ]; then
  awk -v nc="$(median "$work/native" cpu)" -v nr="$(median "$work/native" real)" \
    -v wc="$(median "$work/wine32" cpu)" -v wr="$(median "$work/wine32" real)" \
    'BEGIN { printf "RATIO wine32_value_put_to_native cpu=%.2f real=%.2f goal=none(reported)\n", wc / nc, wr / nr }'
fi
