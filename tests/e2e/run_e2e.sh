#!/usr/bin/env bash
# Drives the real Lensbay window under a private Xvfb with real X input events: answers the
# start-up notice, types an exposure into Text1, sets the registers (answering both prompts),
# captures a frame, and checks the image files, the monitor window's size and the latch in the
# port trace.
#
# Usage: run_e2e.sh BIN_DIR
#   BIN_DIR holds lensbay, regsvr, PINBUS.OCX and bmphead1.
# Environment:
#   E2E_SCREENSHOTS=DIR  also save main-window.png, monitor-window.png and board-window.png in
#                        DIR (needs ImageMagick's import)
#   E2E_KEEP=1           keep the temporary directory (its path is printed)
# Exit status: 0 passed, 1 failed, 77 a tool is missing (skipped).
set -uo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_begin run_e2e.sh "${1:-}" lensbay-e2e

# A visible window titled TITLE other than the ones given: prints its id.
new_window_titled() {
  local title="$1" w
  shift
  for w in $(windows_titled "$title"); do
    case " $* " in *" $w "*) continue ;; esac
    echo "$w"
    return 0
  done
  return 1
}

# Answers the message box BOX with Return after giving it the keyboard, then waits until it has
# gone: each prompt must be answered before the program goes on.
answer_box() {
  local box="$1"
  xdo windowfocus --sync "$box" || fail "could not focus box $box"
  xdo key --clearmodifiers Return || fail "could not press Return"
  wait_for 10 "box $box to close" box_gone "$box"
}
box_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# Client size "WIDTH HEIGHT" of window W.
client_size() {
  xwininfo -id "$1" | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w, h }'
}

# Little-endian signed 32-bit integer at OFFSET of FILE.
le32() { od -An -t d4 -j "$2" -N 4 --endian=little "$1" | tr -d ' '; }

trace_has_latch() { grep -q '^out8 0x0378 0x26$' "$tmp/trace"; }

start_xvfb

# The port trace records every access, for the latch check.
export PORTIO_TRACE="$tmp/trace"
enter_private_world

"$bin/lensbay" >"$tmp/lensbay.log" 2>&1 &
app_pid=$!
step "lensbay started (pid $app_pid)"

# Start-up: the notice comes before the main window.
notice_up() { notice="$(windows_titled 'Operation Notice' | head -n1)" && [ -n "$notice" ]; }
wait_for 10 'the "Operation Notice" box' notice_up
answer_box "$notice"
main_up() { main="$(windows_titled 'SX540 Control Panel' | head -n1)" && [ -n "$main" ]; }
wait_for 10 "the main window" main_up
read -r mw mh < <(client_size "$main")
[ "$mw x $mh" = "394 x 368" ] || fail "main window is $mw x $mh, expected 394 x 368 (5910 x 5520 twips)"
step "main window $main: $mw x $mh"

# Text1 lies at 2280,120 twips, 1455 x 375 (pixels 152,8 to 249,33). A mouse click empties it;
# then the exposure is typed. The click is near its left edge, in front of the "0" it holds, so a
# click that did not empty it would leave "1000" there.
xdo windowfocus --sync "$main" || fail "could not focus the main window"
xdo mousemove --window "$main" 157 20 click 1 || fail "could not click Text1"
sleep 0.2
xdo type --delay 30 100 || fail "could not type"
sleep 0.2
if [ -n "$shots" ]; then
  timeout 10 import -window "$main" "$shots/main-window.png" || fail "screenshot of the main window"
fi

# Set Register by its access key: the EXCTL prompt, then (once EXCTL is latched) the VPORT one.
xdo key --clearmodifiers alt+s || fail "could not press Alt+S"
exctl_prompt() { box="$(new_window_titled 'SX540 Control Panel' "$main")"; }
wait_for 10 "the EXCTL prompt" exctl_prompt
# Nothing is latched into EXCTL until the user confirms the switches are set.
[ -s "$tmp/trace" ] || fail "no port trace at $tmp/trace"
! trace_has_latch || fail "EXCTL was written before its prompt was answered"
answer_box "$box"
wait_for 10 "out8 0x0378 0x26 (100 bit-reversed) in the port trace" trace_has_latch
step "EXCTL latched 100"
vport_prompt() { box="$(new_window_titled 'SX540 Control Panel' "$main")"; }
wait_for 10 "the VPORT prompt" vport_prompt
answer_box "$box"

# Capture by its access key: a full frame, then the monitor window.
xdo windowfocus --sync "$main" || fail "could not focus the main window"
xdo key --clearmodifiers alt+c || fail "could not press Alt+C"
monitor_up() {
  [ -z "$(windows_titled 'SX540 Camera Control Panel')" ] || fail "the monitor could not load image.bmp"
  monitor="$(windows_titled 'SX540 Monitor' | head -n1)" && [ -n "$monitor" ]
}
wait_for 20 'the "SX540 Monitor" window' monitor_up
step "monitor window $monitor"

[ -f image.bmp ] || fail "image.bmp was not written"
size=$(stat -c %s image.bmp)
[ "$size" -eq 111959 ] || fail "image.bmp has $size bytes, expected 111959"
[ "$(head -c 2 image.bmp)" = "BM" ] || fail "image.bmp does not start with BM"
[ "$(le32 image.bmp 18)" = 384 ] || fail "image.bmp width $(le32 image.bmp 18), expected 384"
[ "$(le32 image.bmp 22)" = 288 ] || fail "image.bmp height $(le32 image.bmp 22), expected 288"
[ "$(stat -c %s image.raw)" -eq 110881 ] || fail "image.raw has $(stat -c %s image.raw) bytes"

# The client area is 16 x 384 by 16 x 288 twips; with no window manager under Xvfb nothing
# adjusts it. 6144 twips is 409.6 pixels: either whole-pixel rule is fine.
wait_for 5 "the monitor window to be mapped" \
  bash -c "xwininfo -id $monitor | grep -q 'Map State: IsViewable'"
read -r cw ch < <(client_size "$monitor")
case "$cw x $ch" in
  "409 x 307" | "410 x 307") ;;
  *) fail "monitor client area is $cw x $ch, expected 409 or 410 x 307 (6144 x 4608 twips)" ;;
esac
step "monitor client area $cw x $ch"
[ -z "$(windows_titled 'SX540 Camera Control Panel')" ] || fail "the monitor could not load image.bmp"
if [ -n "$shots" ]; then
  sleep 0.3  # let the picture be painted
  timeout 10 import -window "$monitor" "$shots/monitor-window.png" || fail "screenshot of the monitor"
  board="$(windows_titled 'SX540 Evaluation Board' | head -n1)"
  [ -n "$board" ] || fail "no board window"
  timeout 10 import -window "$board" "$shots/board-window.png" || fail "screenshot of the board"
fi

# Close the program and make sure it and its server are gone.
stop "$app_pid"
kill -0 "$app_pid" 2>/dev/null && fail "lensbay is still running"
app_pid=""
stop "$xvfb_pid"
xvfb_pid=""
elapsed=$((SECONDS - start))
[ "$elapsed" -lt 60 ] || fail "took ${elapsed}s, more than 60"
echo "PASS: end-to-end window test in ${elapsed}s"
