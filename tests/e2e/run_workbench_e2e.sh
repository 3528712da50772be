#!/usr/bin/env bash
# Opens the real Lensbay with --live and --inspector under a private Xvfb: answers the start-up
# notice, waits for the live view and the inspector, checks that the live picture is a picture
# (not a blank window) when ImageMagick is there, opens the register table with F7 and the
# context menu with the right mouse button, and closes the program.
#
# Usage: run_workbench_e2e.sh BIN_DIR
# Environment:
#   E2E_SCREENSHOTS=DIR  also save live-window.png, inspector-window.png, registers-window.png
#                        and context-menu.png in DIR (needs ImageMagick's import)
# Exit status: 0 passed, 1 failed, 77 a tool is missing (skipped).
set -uo pipefail

bin="${1:?usage: run_workbench_e2e.sh BIN_DIR}"
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
tmp="$(mktemp -d "${TMPDIR:-/tmp}/lensbay-e2e-wb.XXXXXX")" || exit 1
xvfb_pid=""
app_pid=""

stop() {
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
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  [ -s "$tmp/lensbay.log" ] && { echo "--- lensbay output:"; cat "$tmp/lensbay.log"; }
  [ -s "$tmp/xvfb.log" ] && { echo "--- Xvfb output:"; tail -5 "$tmp/xvfb.log"; }
  if [ -n "${DISPLAY:-}" ]; then
    echo "--- windows:"
    xwininfo -root -tree 2>/dev/null | grep '"' | grep -v 'has no name'
  fi
  exit 1
}
xdo() { timeout 10 xdotool "$@"; }
step() { echo "[$((SECONDS - start))s] $*"; }
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
windows_titled() { xdo search --onlyvisible --name "^$1\$" 2>/dev/null; }
first_titled() { windows_titled "$1" | head -n1; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

mkdir -p "$tmp/home" "$tmp/runtime" "$tmp/work" || fail "cannot set up $tmp"
chmod 700 "$tmp/runtime" || fail "cannot set up $tmp/runtime"
# -noreset keeps the server up between clients: by default it resets when its last client leaves
# (the readiness probe), and a client connecting during the reset is refused.
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
display_ready() { [ -s "$tmp/display" ] && grep -q '^[0-9]' "$tmp/display"; }
wait_for 10 "Xvfb to start" display_ready
DISPLAY=":$(head -n1 "$tmp/display")"
export DISPLAY
# The program falls back to its console when it cannot reach the server: make sure it can.
server_answers() { timeout 5 xwininfo -root >/dev/null 2>&1; }
wait_for 10 "the X server on $DISPLAY to answer" server_answers
step "Xvfb on $DISPLAY"

# No port trace: a live view reads 110,880 bytes a frame, many frames a second.
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" XDG_DATA_HOME="$tmp/home/.local/share"
export OLE_REGISTRY="$tmp/registry.reg" PORTIO=sim QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY LENSBAY_WORKDIR PORTIO_TRACE
"$bin/regsvr" "$bin/PINBUS.OCX" >"$tmp/regsvr.log" 2>&1 || fail "regsvr: $(cat "$tmp/regsvr.log")"
cp "$bin/bmphead1" "$tmp/work/" || fail "cannot copy bmphead1"
cd "$tmp/work" || fail "cannot enter $tmp/work"

"$bin/lensbay" --live --inspector >"$tmp/lensbay.log" 2>&1 &
app_pid=$!
step "lensbay --live --inspector started (pid $app_pid)"

notice_up() { notice="$(first_titled 'Operation Notice')" && [ -n "$notice" ]; }
wait_for 10 'the "Operation Notice" box' notice_up
xdo windowfocus --sync "$notice" || fail "could not focus the notice"
xdo key --clearmodifiers Return || fail "could not press Return"
main_up() { main="$(first_titled 'SX540 Control Panel')" && [ -n "$main" ]; }
wait_for 10 "the main window" main_up
live_up() { live="$(first_titled 'Lensbay Live')" && [ -n "$live" ] && viewable "$live"; }
wait_for 10 "the live view" live_up
inspector_up() { inspector="$(first_titled 'Lensbay Inspector')" && [ -n "$inspector" ] && viewable "$inspector"; }
wait_for 10 "the inspector" inspector_up
step "live view $live, inspector $inspector"
[ ! -e image.bmp ] || fail "the live view wrote image.bmp"

if command -v import >/dev/null; then
  # The live picture shows the board's scene: its grey levels vary (a blank window would not).
  varied() {
    timeout 10 import -window "$live" "$tmp/live.png" 2>/dev/null || return 1
    local sd
    sd="$(timeout 10 convert "$tmp/live.png" -crop 380x280+12+12 -colorspace Gray -format '%[fx:standard_deviation]' info: 2>/dev/null)" || return 1
    awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }'
  }
  wait_for 20 "a live picture in the live view" varied
  step "live picture varies"
fi
if [ -n "$shots" ]; then
  sleep 1
  timeout 10 import -window "$live" "$shots/live-window.png" || fail "screenshot of the live view"
  timeout 10 import -window "$inspector" "$shots/inspector-window.png" || fail "screenshot of the inspector"
fi

# F7 in the main window: the register table.
xdo windowfocus --sync "$main" || fail "could not focus the main window"
xdo key --clearmodifiers F7 || fail "could not press F7"
registers_up() { registers="$(first_titled 'Lensbay Registers')" && [ -n "$registers" ]; }
wait_for 10 "the register table (F7)" registers_up
step "registers $registers"
[ -z "$shots" ] || timeout 10 import -window "$registers" "$shots/registers-window.png" ||
  fail "screenshot of the registers"

# The context menu on the main window's background (right of the option groups, above the
# buttons): a new override-redirect window appears.
xdo windowfocus --sync "$main" || fail "could not focus the main window"
before="$(xwininfo -root -children | grep -c '^ *0x')"
xdo mousemove --window "$main" 380 10 click 3 || fail "could not right-click"
menu_up() { [ "$(xwininfo -root -children | grep -c '^ *0x')" -gt "$before" ]; }
wait_for 10 "the context menu" menu_up
step "context menu open"
if [ -n "$shots" ]; then
  sleep 0.3
  timeout 10 import -window root -crop 620x400+0+0 "$shots/context-menu.png" || fail "screenshot of the menu"
fi
xdo key Escape

stop "$app_pid"
kill -0 "$app_pid" 2>/dev/null && fail "lensbay is still running"
app_pid=""
stop "$xvfb_pid"
xvfb_pid=""
elapsed=$((SECONDS - start))
echo "PASS: end-to-end workbench test in ${elapsed}s"
