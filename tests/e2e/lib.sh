# shellcheck shell=bash
# Shared by the end-to-end scripts (sourced, after `set -uo pipefail`): the checks for the tools
# and the built programs, the temporary directory, stopping processes, waiting, failing, and the
# private Xvfb.
#
# e2e_begin SCRIPT BIN_DIR TMP_PREFIX sets bin, shots, start, tmp, xvfb_pid and app_pid, and
# cleans up on exit (E2E_KEEP=1 keeps the temporary directory and prints its path).

e2e_begin() {
  local script="$1" prefix="$3" tool f
  bin="${2:?usage: $script BIN_DIR}"
  bin="$(cd "$bin" && pwd)" || exit 1
  shots="${E2E_SCREENSHOTS:-}"
  [ -z "$shots" ] || shots="$(mkdir -p "$shots" && cd "$shots" && pwd)" || exit 1
  for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  if [ -n "$shots" ] && ! command -v import >/dev/null; then
    echo "SKIP: import (ImageMagick) is not installed"
    exit 77
  fi
  for f in lensbay regsvr PINBUS.OCX bmphead1; do
    [ -e "$bin/$f" ] || { echo "FAIL: $bin/$f is missing (build it first)"; exit 1; }
  done
  start=$SECONDS
  tmp="$(mktemp -d "${TMPDIR:-/tmp}/$prefix.XXXXXX")" || exit 1
  xvfb_pid=""
  app_pid=""
  trap cleanup EXIT
  trap 'exit 1' INT TERM
}

stop() {  # stop PID: TERM, then KILL after 5 s; reaps it
  local pid="$1" i
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

cleanup() {
  stop "$app_pid"
  stop "$xvfb_pid"
  if [ -n "${E2E_KEEP:-}" ]; then
    echo "kept $tmp"
  else
    rm -rf "$tmp"
  fi
}

fail() {
  echo "FAIL: $*"
  if [ -s "$tmp/lensbay.log" ]; then
    echo "--- lensbay output:"
    cat "$tmp/lensbay.log"
  fi
  if [ -s "$tmp/xvfb.log" ]; then
    echo "--- Xvfb output:"
    tail -5 "$tmp/xvfb.log"
  fi
  if [ -n "${DISPLAY:-}" ]; then
    echo "--- windows:"
    xwininfo -root -tree 2>/dev/null | grep '"' | grep -v 'has no name'
  fi
  exit 1
}

# Every X client call is bounded: a --sync wait never ends if the server never answers.
xdo() { timeout 10 xdotool "$@"; }

step() { echo "[$((SECONDS - start))s] $*"; }

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_for() {
  local limit="$1" what="$2" i
  shift 2
  for ((i = 0; i < limit * 10; i++)); do
    "$@" && return 0
    kill -0 "$app_pid" 2>/dev/null || [ -z "$app_pid" ] || fail "lensbay ended while waiting for $what"
    sleep 0.1
  done
  fail "timed out after ${limit}s waiting for $what"
}

# Window ids (decimal) of the visible top-level windows titled exactly TITLE.
windows_titled() { xdo search --onlyvisible --name "^$1\$" 2>/dev/null; }

display_ready() { [ -s "$tmp/display" ] && grep -q '^[0-9]' "$tmp/display"; }
server_answers() { timeout 5 xwininfo -root >/dev/null 2>&1; }

# Makes $tmp/home, $tmp/runtime and $tmp/work, then starts a private X server on a display number
# it picks itself, so parallel runs never collide, and exports DISPLAY once the server answers.
# With -noreset it stays up between clients: by default the server resets whenever its last
# client leaves (xdotool's polls, lensbay's own display check, the readiness probe), and a client
# connecting during the reset is refused, which a loaded machine stretches out long enough for
# lensbay to hit. The program falls back to its console when it cannot reach the server.
start_xvfb() {
  mkdir -p "$tmp/home" "$tmp/runtime" "$tmp/work" || fail "cannot set up $tmp"
  chmod 700 "$tmp/runtime" || fail "cannot set up $tmp/runtime"
  exec 3>"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  wait_for 10 "Xvfb to start" display_ready
  DISPLAY=":$(head -n1 "$tmp/display")"
  export DISPLAY
  wait_for 10 "the X server on $DISPLAY to answer" server_answers
  step "Xvfb on $DISPLAY"
}

# The program's whole world in the temporary directory: class registry, home, working folder
# (entered), and a simulated board of this test's own, just powered on. The caller exports
# PORTIO_TRACE, or unsets it, itself.
enter_private_world() {
  export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" XDG_DATA_HOME="$tmp/home/.local/share"
  export LENSBAY_SIM_STATE="$tmp/sim-board"
  export OLE_REGISTRY="$tmp/registry.reg" PORTIO=sim QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY LENSBAY_WORKDIR
  "$bin/regsvr" "$bin/PINBUS.OCX" >"$tmp/regsvr.log" 2>&1 || fail "regsvr: $(cat "$tmp/regsvr.log")"
  cp "$bin/bmphead1" "$tmp/work/" || fail "cannot copy bmphead1"
  cd "$tmp/work" || fail "cannot enter $tmp/work"
}
