#!/usr/bin/env bash
# Opens the real Lensbay with --live and --inspector under a private Xvfb (after `lensbay set` wrote
# some registers): answers the start-up notice, waits for the live view and the inspector, checks
# that they and the main and board windows lie side by side on the screen, covering none of each
# other, that the live picture is a picture (not a blank window) when ImageMagick is there, opens
# the register table with F7 and the context menu with the right mouse button, and closes the
# program.
#
# Usage: run_workbench_e2e.sh BIN_DIR
# Environment:
#   E2E_SCREENSHOTS=DIR  also save live-window.png, analysis-window.png, registers-window.png
#                        and context-menu.png in DIR (needs ImageMagick's import)
#   E2E_KEEP=1           keep the temporary directory (its path is printed)
# Exit status: 0 passed, 1 failed, 77 a tool is missing (skipped).
set -uo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_begin run_workbench_e2e.sh "${1:-}" lensbay-e2e-wb

first_titled() { windows_titled "$1" | head -n1; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

start_xvfb

# No port trace: a live view reads 110,880 bytes a frame, many frames a second.
unset PORTIO_TRACE
enter_private_world

# Registers written by another program first: the register table shows them with their writer.
"$bin/lensbay" set exposure=80 gain=2 mirror=on >"$tmp/set.log" 2>&1 || fail "lensbay set: $(cat "$tmp/set.log")"

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

# On the 1280 x 1024 screen the live view and the inspector lie beside the main window and the
# board's, whole, covering none of them nor each other.
frame() {  # frame WINDOW: "X Y WIDTH HEIGHT" on the screen
  xwininfo -id "$1" | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
    /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print x, y, w, h }'
}
board="$(first_titled 'SX540 Evaluation Board')"
[ -n "$board" ] || fail "no board window"
frames=()
for w in "$main" "$board" "$live" "$inspector"; do frames+=("$(frame "$w")"); done
for ((i = 0; i < 4; i++)); do
  read -r x y w h <<<"${frames[i]}"
  ((x >= 0 && y >= 0 && x + w <= 1280 && y + h <= 1024)) || fail "window $i (${frames[i]}) leaves the screen"
  for ((j = i + 1; j < 4; j++)); do
    read -r x2 y2 w2 h2 <<<"${frames[j]}"
    if ((x < x2 + w2 && x2 < x + w && y < y2 + h2 && y2 < y + h)); then
      fail "windows $i (${frames[i]}) and $j (${frames[j]}) overlap"
    fi
  done
done
step "main, board, live view and inspector side by side: ${frames[*]}"
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
  timeout 10 import -window "$inspector" "$shots/analysis-window.png" || fail "screenshot of the inspector"
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
