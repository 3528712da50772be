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

bin="${1:?usage: run_e2e.sh BIN_DIR}"
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
tmp="$(mktemp -d "${TMPDIR:-/tmp}/lensbay-e2e.XXXXXX")" || exit 1
xvfb_pid=""
app_pid=""

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
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  if [ -s "$tmp/lensbay.log" ]; then
    echo "--- lensbay output:"
    cat "$tmp/lensbay.log"
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

# A private X server on a display number it picks itself, so parallel runs never collide. With
# -noreset it stays up between clients: by default the server resets whenever its last client
# leaves (xdotool's polls, lensbay's own display check), and a client connecting during the reset
# is refused, which a loaded machine stretches out long enough for lensbay to hit.
mkdir -p "$tmp/home" "$tmp/runtime" "$tmp/work" || fail "cannot set up $tmp"
chmod 700 "$tmp/runtime" || fail "cannot set up $tmp/runtime"
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
display_ready() { [ -s "$tmp/display" ] && grep -q '^[0-9]' "$tmp/display"; }
wait_for 10 "Xvfb to start" display_ready
DISPLAY=":$(head -n1 "$tmp/display")"
export DISPLAY
step "Xvfb on $DISPLAY"

# The program's whole world is in the temporary directory: class registry, home, working folder.
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" XDG_DATA_HOME="$tmp/home/.local/share"
export OLE_REGISTRY="$tmp/registry.reg" PORTIO=sim PORTIO_TRACE="$tmp/trace" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY LENSBAY_WORKDIR
"$bin/regsvr" "$bin/PINBUS.OCX" >"$tmp/regsvr.log" 2>&1 || fail "regsvr: $(cat "$tmp/regsvr.log")"
cp "$bin/bmphead1" "$tmp/work/" || fail "cannot copy bmphead1"
cd "$tmp/work" || fail "cannot enter $tmp/work"

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
