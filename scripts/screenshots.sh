#!/usr/bin/env bash
# Makes every picture of the README again: the main, monitor and board windows (e2e.window's
# run) and the context menu, live view, inspector and register table (e2e.workbench's run), each
# under a private Xvfb of 1280 x 1024.
#
#   scripts/screenshots.sh [DIR [BIN_DIR]]     DIR defaults to docs, BIN_DIR to build/bin
#
# Needs xvfb, xdotool, x11-utils and imagemagick (scripts/deps.sh installs them).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/docs}"
bin="${2:-$root/build/bin}"
E2E_SCREENSHOTS="$dir" bash "$root/tests/e2e/run_e2e.sh" "$bin"
E2E_SCREENSHOTS="$dir" bash "$root/tests/e2e/run_workbench_e2e.sh" "$bin"
echo "pictures written to $dir"
