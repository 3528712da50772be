# Sourced by the Wine tests: the skip rule and the shared prefix (made by the first test that needs
# it, under a lock; the others wait for it).
skip() {
  if [ "${WINE_REQUIRED:-0}" = 1 ]; then
    echo "FAIL (WINE_REQUIRED=1): $*"
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}

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
      timeout 200 wineboot --init >/dev/null 2>&1 || { echo "wineboot --init failed"; exit 1; }
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
