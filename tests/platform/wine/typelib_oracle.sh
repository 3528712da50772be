#!/usr/bin/env bash
# Compares what our type-library reader and the platform's (Wine's LoadTypeLib) say of one file.
#
#   typelib_oracle.sh compare OURS PLATFORM_DUMP PREFIX FILE
#       dumps FILE with our reader (OURS) and under Wine (PLATFORM_DUMP, in the Wine prefix
#       PREFIX, made on first use and shared by the run's tests) and compares the two.
#   typelib_oracle.sh compare-win64 OURS PLATFORM_DUMP PREFIX FILE
#       FILE's library written again by our writer as a library of 64-bit modules (SYS_WIN64,
#       where the file counts vtables in 8-byte pointers): the platform reads it as our reader
#       does, and as it reads FILE but for the system kind (every function and vtable offset kept).
#   typelib_oracle.sh same-library OURS WIDL_FILE RESCOMP_FILE
#       our dumps of the two files differ only where the compilers choose differently.
#   typelib_oracle.sh resource FILE
#       the platform's resource compiler (wrc) takes FILE as TYPELIB 1 and keeps its bytes whole.
#   typelib_oracle.sh remove-prefix PREFIX
#
# Without Wine the comparison is skipped (exit 77) and says why, unless WINE_REQUIRED=1, where a
# skip is a failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd) || exit 1
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

case "${1:-}" in
  compare)
    ours=$2 platform=$3 prefix=$4 file=$5
    [ -n "$WINE64" ] || skip "wine is not installed (apt-get install wine wine64)"
    [ -n "$platform" ] && [ -f "$platform.so" ] ||
      skip "the dump was not built against the platform's headers (wineg++ from wine64-tools)"
    wine_env "$prefix"
    ensure_prefix "$prefix" || exit 1
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    "$ours" "$file" >"$work/ours.txt"
    ours_status=$?
    timeout 120 "$WINE64" "$platform.so" "$file" 2>"$work/wine.err" | tr -d '\r' >"$work/platform.txt"
    platform_status=${PIPESTATUS[0]}
    if [ "$ours_status" != "$platform_status" ]; then
      echo "our reader exits $ours_status, the platform's $platform_status"
      cat "$work/ours.txt" "$work/platform.txt" "$work/wine.err"
      exit 1
    fi
    if ! diff -u --label ours "$work/ours.txt" --label platform "$work/platform.txt"; then
      echo "the dumps of $file differ"
      exit 1
    fi
    echo "same dump ($(wc -l <"$work/ours.txt") lines) of $file"
    ;;
  compare-win64)
    ours=$2 platform=$3 prefix=$4 file=$5
    [ -n "$WINE64" ] || skip "wine is not installed (apt-get install wine wine64)"
    [ -n "$platform" ] && [ -f "$platform.so" ] ||
      skip "the dump was not built against the platform's headers (wineg++ from wine64-tools)"
    wine_env "$prefix"
    ensure_prefix "$prefix" || exit 1
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    "$ours" --as-win64 "$file" "$work/win64.tlb" ||
      { echo "our writer refused the library"; exit 1; }
    "$ours" "$work/win64.tlb" >"$work/ours.txt" || { cat "$work/ours.txt"; exit 1; }
    platform_orig=$work/platform-file.txt platform64=$work/platform-win64.txt
    for f in "$file" "$work/win64.tlb"; do
      out=$platform_orig
      [ "$f" = "$work/win64.tlb" ] && out=$platform64
      timeout 120 "$WINE64" "$platform.so" "$f" 2>"$work/wine.err" | tr -d '\r' >"$out"
      [ "${PIPESTATUS[0]}" = 0 ] ||
        { echo "the platform cannot load $f:"; cat "$out" "$work/wine.err"; exit 1; }
    done
    grep -q '^library .* syskind 3 ' "$platform64" ||
      { echo "the platform does not read a SYS_WIN64 library"; head -1 "$platform64"; exit 1; }
    failures=0
    diff -u --label ours "$work/ours.txt" --label platform "$platform64" || failures=1
    normalise() { sed -E 's/^(library .*) syskind [0-9]+ /\1 syskind N /' "$1"; }
    diff -u --label "platform, $(basename "$file")" <(normalise "$platform_orig") \
      --label "platform, as SYS_WIN64" <(normalise "$platform64") || failures=1
    [ "$failures" = 0 ] ||
      { echo "the platform reads our SYS_WIN64 library of $file differently"; exit 1; }
    echo "the platform reads our SYS_WIN64 library of $file as ours does" \
      "($(wc -l <"$platform64") lines)"
    ;;
  same-library)
    ours=$2 widl=$3 rescomp=$4
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    "$ours" "$widl" >"$work/widl.txt" || { cat "$work/widl.txt"; exit 1; }
    "$ours" "$rescomp" >"$work/rescomp.txt" || { cat "$work/rescomp.txt"; exit 1; }
    # widl writes the system kind of the machine it runs on and imports stdole2 where the
    # description says stdole32; the library header line differs in the system kind only.
    normalise() {
      sed -E -e 's/^(library .*) syskind [0-9]+ /\1 syskind N /' \
        -e 's/ in \{00020430-0000-0000-C000-000000000046\} [0-9]+\.[0-9]+$/ in stdole/' "$1"
    }
    if ! diff -u --label widl <(normalise "$work/widl.txt") --label rescomp <(normalise "$work/rescomp.txt"); then
      echo "our reader reads widl's library and ours differently"
      exit 1
    fi
    grep -q "syskind 1 " "$work/rescomp.txt" || { echo "rescomp's library is not SYS_WIN32"; exit 1; }
    echo "same library but for the system kind"
    ;;
  resource)
    file=$2
    command -v wrc >/dev/null || skip "wrc is not installed (apt-get install wine64-tools)"
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
    cp "$file" "$work/lib.tlb" || exit 1
    printf '1 TYPELIB "lib.tlb"\n' >"$work/lib.rc"
    (cd "$work" && wrc -o lib.res lib.rc) || { echo "wrc refused the library"; exit 1; }
    # A .res file holds each resource's bytes unchanged after its header.
    size=$(stat -c %s "$file")
    if ! python3 - "$work/lib.res" "$file" <<'PY'
import sys
res, tlb = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
sys.exit(0 if tlb in res else 1)
PY
    then
      echo "the compiled resource does not hold the library's $size bytes"
      exit 1
    fi
    echo "wrc embeds the library's $size bytes as TYPELIB 1"
    ;;
  remove-prefix)
    prefix=$2
    if [ -d "$prefix" ] && command -v wineserver >/dev/null; then
      WINEPREFIX="$prefix" timeout 30 wineserver -k 2>/dev/null
    fi
    rm -rf "$prefix" "$prefix.lock"
    ;;
  *)
    echo "usage: typelib_oracle.sh compare|same-library|remove-prefix ..." >&2
    exit 2
    ;;
esac
