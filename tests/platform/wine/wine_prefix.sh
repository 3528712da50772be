# Sourced by the Wine tests: the skip rule, Wine's loaders and the shared prefix (made by the first
# test that needs it, under a lock; the others wait for it).
skip() {
  if [ "${WINE_REQUIRED:-0}" = 1 ]; then
    echo "FAIL (WINE_REQUIRED=1): $*"
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}

# Wine's two loaders. Where Wine's 32-bit side is installed (Debian's wine32), plain `wine` is the
# 32-bit loader and the 64-bit one is kept off PATH (/usr/lib/wine/wine64); without it, plain
# `wine` runs the 64-bit one. WINE64 runs 64-bit programs and the 64-bit side of Wine's own
# (regsvr32, reg, cscript); WINE32 the 32-bit ones, empty where the 32-bit side is missing.
WINE64='' WINE32=''
if command -v wine64 >/dev/null; then
  WINE64=$(command -v wine64)
elif [ -x /usr/lib/wine/wine64 ]; then
  WINE64=/usr/lib/wine/wine64
elif command -v wine >/dev/null; then
  WINE64=$(command -v wine)
fi
if [ -x /usr/lib/wine/wine ]; then
  WINE32=/usr/lib/wine/wine
elif command -v wine64 >/dev/null && command -v wine >/dev/null; then
  WINE32=$(command -v wine)
fi
export WINE64 WINE32

wine_env() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  unset DISPLAY WAYLAND_DISPLAY
}

ensure_prefix() {
  local prefix=$1
  mkdir -p "$(dirname "$prefix")" || return 1
  (
    flock -w 240 9 || { echo "timed out waiting for the Wine prefix"; exit 1; }
    if [ ! -f "$prefix/.ready" ]; then
      rm -rf "$prefix"
      local start=$SECONDS
      timeout 200 "$WINE64" wineboot --init >/dev/null 2>&1 || { echo "wineboot --init failed"; exit 1; }
      timeout 60 wineserver -w
      touch "$prefix/.ready"
      echo "made the Wine prefix in $((SECONDS - start)) s"
    fi
  ) 9>"$prefix.lock"
}

# The path Wine's programs see for a Unix path (drive Z: is the root).
windows_path() {
  local p=$1
  echo "Z:${p//\//\\}"
}
