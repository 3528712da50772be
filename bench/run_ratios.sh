#!/usr/bin/env bash
# Runs every performance goal's benchmark and prints its ratio to the baseline measured in the
# same run, then a summary. Usage (from anywhere, after a build):
#
#   bash bench/run_ratios.sh [BUILD_DIR] [extra benchmark flags...]
#
# BUILD_DIR defaults to ./build beside this script's folder. The goals are judged on medians;
# on a loaded machine add e.g. --benchmark_repetitions=9 for the cases that do not set their own.
set -u -o pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:-$here/../build}"
[ $# -gt 0 ] && shift
bin="$build/bin"
for program in pinbus_bench bench_panel registry_bench lensbay regsvr PINBUS.OCX; do
  if [ ! -e "$bin/$program" ]; then
    echo "missing $bin/$program: build first (cmake --build $build)" >&2
    exit 1
  fi
done

out="$(mktemp "${TMPDIR:-/tmp}/lensbay-ratios.XXXXXX")" || exit 1
trap 'rm -f "$out"' EXIT

echo "machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
status=0
run() {
  echo "== $*"
  "$@" 2>&1 | tee -a "$out" || status=1
}
run "$bin/pinbus_bench" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true "$@"
run "$bin/bench_panel" --benchmark_filter='-BM_ConsoleCapturePeakMemory' "$@"
run "$bin/registry_bench" "$@"
# The Python module's frames() against the C++ frame loop, where the module is built.
if [ -e "$bin/python_frames_bench" ]; then
  run "$bin/python_frames_bench" "$@"
fi
# lensbaysrc ! fakesink against its frame source's C++ frame loop, where the plugin is built.
if [ -e "$bin/bench_gst" ]; then
  run "$bin/bench_gst" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true "$@"
fi
# The Wine build against the native one, where Wine and the Winelib timing are there.
if [ -e "$build/bench/wine/value_put_timing.exe.so" ] && command -v wine >/dev/null; then
  run bash "$here/wine/run_wine_ratio.sh" "$build"
fi

echo
echo "== summary (cpu: this process's CPU time; real: wall clock, or the child's own time)"
grep -E '^RATIO' "$out"
# The element's goal is on frames a second: the inverse of its time ratio.
grep -E '^RATIO lensbaysrc_to_frame_loop cpu=' "$out" |
  awk '{ split($3, c, "="); printf "FPS lensbaysrc/frame_loop %.2f of the loop'"'"'s frames a second (goal >= 0.95)\n", 1 / c[2] }'
grep -E '^BM_ParseTenThousandClasses' "$out" |
  awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /\/s$/) print "RATE registry_parse " $i " (goal >= 50M/s)" }'
if grep -qE '^RATIO .*(MISSED|not measured)' "$out"; then status=1; fi
exit "$status"
