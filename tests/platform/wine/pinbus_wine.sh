#!/usr/bin/env bash
# The Wine build of PINBUS.OCX driven by the platform's own hosts, in the shared Wine prefix.
#
#   pinbus_wine.sh register PREFIX WINE_DIR
#       registers the build in WINE_DIR (build/wine, and build/wine32 beside it where it was made
#       and Wine's 32-bit side is installed) with its script, and checks each registry view names
#       its own module (the class, the ProgID) and the type library is registered for win64 and
#       win32 under its locale; the copies in the prefix load nothing from the build tree; a copy
#       of the 64-bit build alone registers for 64-bit programs only and says so once.
#   pinbus_wine.sh vbscript PREFIX OCXHOST REGSVR NATIVE_OCX [UI_EXE]
#       runs pinbus_suite.vbs under Wine's cscript and pinbus_suite.ocxhost in the native container
#       (NATIVE_OCX registered in a class registry of the test's own); both pass and their port
#       traces are equal. Then a refused cycle: both give the port service's reason. In this
#       session without a display, UI_EXE (pinbus_ui.exe) checks that the properties verb fails
#       and AboutBox returns at once.
#   pinbus_wine.sh client PREFIX CLIENT OCXHOST REGSVR NATIVE_OCX
#       runs the compiled Winelib client CLIENT (under Xvfb, so that Wine's AtlAxWin container can
#       make its window); the stream it saves equals the native control's byte for byte, and each
#       loads the other's.
#   pinbus_wine.sh claim PREFIX LENSBAY CLIENT OCXHOST REGSVR NATIVE_OCX
#       one user of the port at a time across both builds: while the native lensbay holds the
#       simulated board, a script's cycles fail with the holder's name in Err.Description and
#       never reach the board; while a Windows program (CLIENT hold) holds it, lensbay is refused
#       at once naming it.
#   pinbus_wine.sh resources PREFIX LISTER OCXHOST NATIVE_OCX
#       the registered module's resources as the platform's own functions list and read them
#       (LISTER, pinbus_resources.exe): every resource of the native module, in the platform's
#       formats, holding the same bytes; its listing equals `ocxhost resources NATIVE_OCX`.
#   pinbus_wine.sh ui PREFIX UI_EXE OCXHOST REGSVR NATIVE_OCX WINE_DIR SHOTS
#       Pinbus's user interface against the platform's peers, under a private Xvfb (pinbus_ui.py):
#       Wine's AtlAxWin container (the control's window drawn as the native control draws at the
#       same size), Wine's property frame with the one page, and the About box from a compiled
#       client and from a script; screenshots of each go to SHOTS.
#   pinbus_wine.sh typelib NATIVE_OCX WINE_DIR
#       the Wine build's TYPELIB resource holds the bytes of the native module's type library.
#   pinbus_wine.sh numbers PREFIX NUMBERS OCXHOST REGSVR NATIVE_OCX
#       number_grid.py's grid of puts into every property (texts in every form the platform's
#       number parsing takes or refuses, doubles at the rounding and overflow edges): made by the
#       compiled client NUMBERS (pinbus_numbers.exe) through the Wine build, where the platform's
#       oleaut32 converts them, and by ocxhost through the native control; every put and the get
#       after it answer alike, and the two port traces are equal.
#   pinbus_wine.sh module-typelib PREFIX OUR_DUMP PLATFORM_DUMP NATIVE_OCX
#       Wine's LoadTypeLib reads TYPELIB 1 of the registered Wine module by its name, and the
#       platform's dump of it equals ours of the native module.
#   pinbus_wine.sh unregister PREFIX WINE_DIR
#       Wine's regsvr32 /u removes everything registration wrote, and the class is gone.
#   pinbus_wine.sh vbscript32 / client32 / ui32 ...
#       the same as 32-bit programs (Wine's 32-bit cscript, the client and UI checks built with
#       -m32) against the 32-bit module; skipped where Wine's 32-bit side is not installed.
#   pinbus_wine.sh claim32 PREFIX LENSBAY CLIENT32 OCXHOST REGSVR NATIVE_OCX CLIENT64
#       the port claim across the kinds of program on the one simulated board: while the 32-bit
#       client holds it, the 64-bit script and lensbay are refused naming it; while the 64-bit
#       client holds it, the 32-bit script is refused.
#   pinbus_wine.sh board PREFIX LENSBAY OCXHOST REGSVR NATIVE_OCX
#       one simulated board for every kind of program: lensbay's console sets its switches by
#       hand, and in turn the 32-bit script (pinbus_latch.vbs), the 64-bit script, the native
#       container and the 32-bit script again latch a byte into the register selected; each lands
#       in the register the switches chosen by another program select, beside what the programs
#       before it latched, and `lensbay status` shows the chip holding every one of them.
#   pinbus_wine.sh windows-programs PREFIX DIR OCXHOST REGSVR NATIVE_OCX ARCH...
#       the PE programs built with mingw-w64 for each ARCH (i686, x86_64) in DIR, run by plain
#       wine: the form host (AtlAxCreateControlEx, its stream restored into a second window, a
#       dialog template naming the CLSID, a property bag, a compound-file storage) and the
#       README's example client; the form host's stream loads into the native control.
#   pinbus_wine.sh usage SCRIPT
#       register_pinbus.sh's --help and -h print its usage (status 0) and a bad option or a
#       missing prefix are refused with it (status 2), before anything of Wine's runs.
#
# Without Wine the tests are skipped (exit 77), unless WINE_REQUIRED=1, where a skip is a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd) || exit 1
# shellcheck source=wine_prefix.sh
. "$here/wine_prefix.sh"

action=${1:-}
# ACTION32: the action as a 32-bit program, through Wine's 32-bit loader.
bits=64
case "$action" in
  vbscript32 | client32 | ui32 | claim32)
    bits=32
    action=${action%32}
    ;;
esac
if [ "$action" = typelib ]; then
  native_ocx=$2 wine_dir=$3 wine32_dir=${4:-}
  [ -f "$wine_dir/PINBUS.OCX.so" ] || skip "the Wine build of PINBUS.OCX was not made (wine64-tools)"
  python3 - "$native_ocx" "$wine_dir" "$wine32_dir" <<'PY'
import struct, subprocess, sys, tempfile, os
native, wine_dir, wine32_dir = sys.argv[1], sys.argv[2], sys.argv[3]
with tempfile.TemporaryDirectory() as work:
    section = os.path.join(work, "lbrsrc")
    subprocess.run(["objcopy", "-O", "binary", "--only-section=.lbrsrc", native, section], check=True)
    table = open(section, "rb").read()
assert table[:8] == b"LBRSRC01", "the native module has no resource table"
count, = struct.unpack_from("<I", table, 8)
libs = []
for i in range(count):
    kind, rid, lang, _, offset, size = struct.unpack_from("<HHHHII", table, 12 + 16 * i)
    if kind == 0x7FFF:
        libs.append(table[offset:offset + size])
tlb = open(os.path.join(wine_dir, "pinbus_typelib_1.tlb"), "rb").read()
if libs != [tlb]:
    sys.exit("the native module's TYPELIB (%s) is not the Wine build's library (%d bytes)"
             % ([len(l) for l in libs], len(tlb)))
for d in [wine_dir, wine32_dir] if wine32_dir else [wine_dir]:
    if tlb[:4] != b"MSFT" or tlb not in open(os.path.join(d, "PINBUS.OCX.so"), "rb").read():
        sys.exit("the Wine module in %s does not carry the library's %d bytes" % (d, len(tlb)))
print("the modules carry the same %d-byte type library" % len(tlb))
PY
  exit $?
fi
if [ "$action" = usage ]; then
  script=$2 work=$(mktemp -d) || exit 1
  trap 'rm -rf "$work"' EXIT
  check() {  # check STATUS FIRST_LINE STREAM ARGS...: the exit status and the stream's first line
    local want=$1 first=$2 stream=$3 status
    shift 3
    bash "$script" "$@" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" = "$want" ] || { echo "FAIL: $* exits $status, not $want"; cat "$work/err"; exit 1; }
    [ "$(head -n1 "$work/$stream")" = "$first" ] ||
      { echo "FAIL: $* prints on its $stream:"; cat "$work/$stream"; exit 1; }
  }
  check 0 "usage: register_pinbus.sh [--unregister] WINEPREFIX" out --help
  check 0 "usage: register_pinbus.sh [--unregister] WINEPREFIX" out -h
  check 2 "register_pinbus.sh: unknown option --bogus" err --bogus
  check 2 "usage: register_pinbus.sh [--unregister] WINEPREFIX" err
  check 2 "usage: register_pinbus.sh [--unregister] WINEPREFIX" err --unregister
  ! grep -q realpath "$work/out" "$work/err" || { echo "FAIL: realpath's words in the output"; exit 1; }
  echo "PASS: register_pinbus.sh says its usage"
  exit 0
fi
[ -n "$WINE64" ] || skip "wine is not installed (apt-get install wine wine64)"
run=$WINE64 pe=win64
if [ "$bits" = 32 ]; then
  pe=win32
  [ -n "$WINE32" ] || skip "Wine's 32-bit side is not installed (dpkg --add-architecture i386; apt-get install wine32:i386)"
  run=$WINE32
fi
prefix=${2:-}
[ -n "$prefix" ] || { echo "usage: see the head of $0" >&2; exit 2; }
wine_env "$prefix"
ensure_prefix "$prefix" || exit 1
dest=$prefix/drive_c/pinbus
export WINEDLLPATH=$dest

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
# The simulated board of this test alone.
export PORTIO=sim LENSBAY_SIM_STATE=$work/sim-board
unset PORTIO_TRACE

clsid='{6B2F14D3-5C83-11D0-9E41-0040A7B3C250}'
libid='{6B2F14D0-5C83-11D0-9E41-0040A7B3C250}'
iid='{6B2F14D1-5C83-11D0-9E41-0040A7B3C250}'

# Prints a key of the prefix's HKEY_CLASSES_ROOT with its subkeys as a 64-bit program sees it, or
# as a 32-bit one does (its registry view) when the second argument is 32; fails when it is absent.
query() {
  local reg=$WINE64
  [ "${2:-64}" = 32 ] && reg=$WINE32
  timeout 60 "$reg" reg query "HKCR\\$1" /s 2>/dev/null | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# The native container with the native control in a class registry of this test's own.
native() {
  local ocxhost=$1 regsvr=$2 ocx=$3 commands=$4
  export OLE_REGISTRY=$work/native.reg OLE_MACHINE_REGISTRY=$work/machine.reg
  if [ ! -f "$OLE_REGISTRY" ]; then
    "$regsvr" "$ocx" >"$work/regsvr.txt" 2>&1 || { cat "$work/regsvr.txt"; return 1; }
  fi
  timeout 60 "$ocxhost" <"$commands"
}

case "$action" in
  register)
    wine_dir=$3
    [ -f "$wine_dir/PINBUS.OCX.so" ] || skip "the Wine build of PINBUS.OCX was not made (wine64-tools)"
    start=$SECONDS
    timeout 120 bash "$wine_dir/register_pinbus.sh" "$prefix" >"$work/register.out" || exit 1
    cat "$work/register.out"
    failures=0
    # The line it prints works when pasted into a shell, whatever the prefix's name holds (the
    # shared prefix's name has a blank, a comma and a quote).
    hosts=$(sed -n 's/^run its hosts with: \(.*\) wine \.\.\.$/\1/p' "$work/register.out")
    pasted=$(sh -c "$hosts printenv WINEPREFIX WINEDLLPATH" 2>&1)
    if [ "$pasted" != "$(printf '%s\n%s' "$prefix" "$dest")" ]; then
      echo "the printed line does not paste: $hosts"
      echo "$pasted"
      failures=1
    fi
    # Each kind registered: the 32-bit one where its build and Wine's 32-bit side are there,
    # else the script says once that it registered the 64-bit module only.
    kinds=(64)
    if [ -f "$wine_dir/../wine32/PINBUS.OCX.so" ] && [ -n "$WINE32" ]; then
      kinds+=(32)
      grep -q '^registered Pinbus for 64-bit programs (C:\\pinbus\\win64\\PINBUS.OCX) and 32-bit programs (C:\\pinbus\\win32\\PINBUS.OCX) in ' \
        "$work/register.out" || { echo "the script does not say it registered both"; failures=1; }
    else
      [ "$(grep -c '64-bit programs only' "$work/register.out")" = 1 ] ||
        { echo "the script does not say once that it registered for 64-bit programs only"; failures=1; }
    fi
    for kind in "${kinds[@]}"; do
      view=$kind pe=win$kind
      unix=x86_64-unix
      [ "$kind" = 32 ] && unix=i386-unix
      module="C:\\\\pinbus\\\\$pe\\\\PINBUS.OCX"
      server=$(query "CLSID\\$clsid\\InprocServer32" "$view") ||
        { echo "no InprocServer32 in the $kind-bit view"; exit 1; }
      grep -q "REG_SZ *$module\$" <<<"$server" ||
        { echo "the $kind-bit view's InprocServer32 does not name its placeholder:"; echo "$server"; failures=1; }
      query 'PINBUS.PinbusCtrl.1\CLSID' "$view" | grep -q "REG_SZ *$clsid" ||
        { echo "the $kind-bit view's ProgID does not name the class"; failures=1; }
      # The library is registered under its own locale (0x409): win64 names the 64-bit module,
      # win32 the 32-bit one.
      query "TypeLib\\$libid\\1.0\\409\\$pe" | grep -q "REG_SZ *$module\$" ||
        { echo "the type library is not registered under 409\\$pe:"; query "TypeLib\\$libid"; failures=1; }
      query "Interface\\$iid\\TypeLib" "$view" | grep -q "$libid" ||
        { echo "the dispatch interface is not registered in the $kind-bit view"; failures=1; }
      # Self-contained: the copies find their libraries beside themselves, never in the build.
      for f in "$dest/$unix"/*.so; do
        runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]/\1/p')
        [ "$f" = "$dest/$unix/pinbus.ocx.so" ] && [ "$(readlink "$f")" = PINBUS.OCX.so ] && continue
        if [ -L "$f" ] || { [ -n "$runpath" ] && [ "${runpath%:}" != '$ORIGIN' ]; }; then
          echo "$f is a link or looks for its libraries in '$runpath'"
          failures=1
        fi
      done
      outside=$(cd "$dest/$unix" && LD_LIBRARY_PATH='' ldd PINBUS.OCX.so 2>&1 |
        awk -v dir="=> $dest/$unix/" '/not found/ { print; next }
          $1 ~ /^lib(portio|base|sim|ui_core|ui|com)\.so$/ && index($0, dir) == 0 { print }')
      [ -z "$outside" ] || { echo "the $kind-bit copy loads from elsewhere:"; echo "$outside"; failures=1; }
    done
    # A 64-bit build alone (no build/wine32 beside it): registered for 64-bit programs only, said
    # once, and the 32-bit registration left as it was.
    if [ "${#kinds[@]}" = 2 ]; then
      mkdir -p "$work/alone/wine" || exit 1
      cp "$wine_dir"/PINBUS.OCX "$wine_dir"/PINBUS.OCX.so "$wine_dir"/lib*.so \
        "$wine_dir"/register_pinbus.sh "$work/alone/wine/" || exit 1
      timeout 120 bash "$work/alone/wine/register_pinbus.sh" "$prefix" >"$work/alone.out" 2>&1 ||
        { echo "the 64-bit build alone does not register:"; cat "$work/alone.out"; failures=1; }
      [ "$(grep -c 'registering for 64-bit programs only' "$work/alone.out")" = 1 ] &&
        grep -q '^registered Pinbus for 64-bit programs (C:\\pinbus\\win64\\PINBUS.OCX) in ' "$work/alone.out" ||
        { echo "the 64-bit build alone does not say once that it registers for 64-bit programs only:"; cat "$work/alone.out"; failures=1; }
      query "CLSID\\$clsid\\InprocServer32" 32 | grep -q 'REG_SZ *C:\\pinbus\\win32\\PINBUS.OCX$' ||
        { echo "registering the 64-bit build alone changed the 32-bit view"; failures=1; }
      echo "a 64-bit build alone: $(grep 'only' "$work/alone.out")"
    fi
    echo "registered in $((SECONDS - start)) s"
    exit $failures
    ;;
  resources)
    lister=$3 ocxhost=$4 ocx=$5
    [ -f "$lister.so" ] || skip "the Winelib resource lister was not built (wine64-tools)"
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    printf 'resources %s\n' "$ocx" | timeout 60 "$ocxhost" >"$work/native.txt" 2>&1 ||
      { cat "$work/native.txt"; exit 1; }
    timeout 120 "$WINE64" "$lister.so" 'C:\pinbus\win64\PINBUS.OCX' "$ocx" 2>"$work/wine.err" |
      tr -d '\r' >"$work/wine.txt"
    status=${PIPESTATUS[0]}
    failures=0
    if [ "$status" != 0 ]; then
      echo "the platform's reading of the module's resources failed (exit $status):"
      cat "$work/wine.err"
      failures=1
    fi
    diff -u --label native "$work/native.txt" --label wine "$work/wine.txt" || failures=1
    [ "$failures" = 0 ] &&
      echo "the platform lists and reads the native module's $(grep -c '^[A-Z]* [0-9]* 0x0409 ' "$work/wine.txt") resources, byte for byte"
    exit $failures
    ;;
  ui)
    ui=$3 ocxhost=$4 regsvr=$5 ocx=$6 wine_dir=$7 shots=$8
    [ -f "$ui.so" ] || skip "the Winelib UI checks were not built (wine64-tools)"
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    command -v xvfb-run >/dev/null || skip "xvfb-run is not installed (apt-get install xvfb)"
    command -v import >/dev/null || skip "import is not installed (apt-get install imagemagick)"
    # The native control's drawing of the size the container gets.
    width=300 height=120
    printf 'create PINBUS.PinbusCtrl.1\ninitnew\ndraw %s %d %d\n' "$work/native.png" "$width" \
      "$height" >"$work/draw.ocxhost"
    QT_QPA_PLATFORM=offscreen native "$ocxhost" "$regsvr" "$ocx" "$work/draw.ocxhost" \
      >"$work/draw.out" 2>&1 && [ -s "$work/native.png" ] ||
      { cat "$work/draw.out"; echo "ocxhost drew nothing"; exit 1; }
    # As for the client: this run's own Wine session, on a display of its own with 24-bit colour
    # (the screenshots are compared pixel for pixel), ended before the display.
    timeout 60 wineserver -w
    WINE=$run timeout 900 xvfb-run -a -s "-screen 0 1024x768x24" \
      bash -c 'python3 "$@"; s=$?; timeout 60 wineserver -w; exit $s' wine \
      "$here/pinbus_ui.py" "$ui.so" "$shots" "$work/native.png" "$wine_dir/pinbus_icon_1.ico" \
      "$(windows_path "$here/pinbus_about.vbs")" "$width" "$height"
    exit $?
    ;;
  numbers)
    numbers=$3 ocxhost=$4 regsvr=$5 ocx=$6
    [ -f "$numbers.so" ] || skip "the Winelib number client was not built (wine64-tools)"
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    python3 "$here/number_grid.py" write "$work/grid.txt" "$work/grid.ocxhost" || exit 1
    # The platform's default locale is then US English (0x0409), whose symbols the grid uses.
    export LC_ALL=C.UTF-8
    rm -f "$LENSBAY_SIM_STATE"
    PORTIO_TRACE=$work/wine.trace timeout 300 "$run" "$numbers.so" \
      "$work/grid.txt" 2>"$work/wine.err" | tr -d '\r' >"$work/wine.out"
    status=${PIPESTATUS[0]}
    if [ "$status" != 0 ]; then
      echo "the client failed (exit $status):"
      cat "$work/wine.out" "$work/wine.err"
      exit 1
    fi
    rm -f "$LENSBAY_SIM_STATE"
    PORTIO_TRACE=$work/native.trace native "$ocxhost" "$regsvr" "$ocx" "$work/grid.ocxhost" \
      >"$work/native.out" 2>&1 || { cat "$work/native.out"; echo "ocxhost failed"; exit 1; }
    failures=0
    python3 "$here/number_grid.py" compare "$work/grid.txt" "$work/native.out" "$work/wine.out" ||
      failures=1
    if ! diff -u --label native "$work/native.trace" --label wine "$work/wine.trace"; then
      echo "the port traces differ"
      failures=1
    else
      echo "same port trace ($(wc -l <"$work/wine.trace") cycles)"
    fi
    exit $failures
    ;;
  module-typelib)
    # Wine's LoadTypeLib on the registered module's name and ours on the native module.
    ours=$3 platform=$4 ocx=$5
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    "$ours" "$ocx" >"$work/ours.txt" || { cat "$work/ours.txt"; exit 1; }
    failures=0
    for kind in win64 win32; do
      [ -f "$dest/$kind/PINBUS.OCX" ] || continue
      timeout 120 "$WINE64" "$platform.so" "C:\\pinbus\\$kind\\PINBUS.OCX" 2>"$work/wine.err" |
        tr -d '\r' >"$work/platform.txt"
      [ "${PIPESTATUS[0]}" = 0 ] || { cat "$work/platform.txt" "$work/wine.err"; exit 1; }
      diff -u --label native "$work/ours.txt" --label "wine $kind" "$work/platform.txt" || failures=1
      echo "Wine's LoadTypeLib reads the $kind module's library as ours reads the native one"
    done
    exit $failures
    ;;
  vbscript)
    ocxhost=$3 regsvr=$4 ocx=$5
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    failures=0
    PORTIO_TRACE=$work/wine.trace timeout 120 "$run" cscript //nologo \
      "$(windows_path "$here/pinbus_suite.vbs")" >"$work/wine.out" 2>"$work/wine.err"
    status=$?
    tr -d '\r' <"$work/wine.out"
    if [ "$status" != 0 ] || ! grep -q '^0 failures' "$work/wine.out"; then
      echo "the script failed (exit $status)"
      cat "$work/wine.err"
      failures=1
    fi
    rm -f "$LENSBAY_SIM_STATE"
    PORTIO_TRACE=$work/native.trace native "$ocxhost" "$regsvr" "$ocx" "$here/pinbus_suite.ocxhost" \
      >"$work/native.out" 2>&1 || { cat "$work/native.out"; echo "ocxhost failed"; failures=1; }
    if ! diff -u --label native "$work/native.trace" --label wine "$work/wine.trace"; then
      echo "the port traces differ"
      failures=1
    else
      echo "same port trace ($(wc -l <"$work/wine.trace") cycles)"
    fi

    # A refused cycle: the service cannot open the port, and says why.
    export PORTIO=ppdev:$work/no-such-parport
    timeout 120 "$run" cscript //nologo "$(windows_path "$here/pinbus_refused.vbs")" \
      2>/dev/null | tr -d '\r' >"$work/refused.out"
    status=${PIPESTATUS[0]}
    printf 'create PINBUS.PinbusCtrl.1\nget Value\nput Value 8\n' >"$work/refused.ocxhost"
    native "$ocxhost" "$regsvr" "$ocx" "$work/refused.ocxhost" >"$work/refused.native" 2>&1
    reason=$(sed -n 's/^error 0x80020009: //p' "$work/refused.native" | head -1)
    cat "$work/refused.out"
    if [ "$status" != 0 ] || [ -z "$reason" ]; then
      echo "a refused cycle raised no error (exit $status), or ocxhost gave no reason:"
      cat "$work/refused.native"
      failures=1
    fi
    for call in get put; do
      want="$call -2147467259 $reason"
      got=$(grep "^$call " "$work/refused.out")
      [ "$got" = "$want" ] || { echo "want: $want"; echo "got:  $got"; failures=1; }
    done
    ui=${6:-}
    if [ -n "$ui" ] && [ -f "$ui.so" ]; then
      unset PORTIO
      timeout 120 "$run" "$ui.so" - no-display 2>/dev/null | tr -d '\r' >"$work/no-display.out"
      status=${PIPESTATUS[0]}
      cat "$work/no-display.out"
      if [ "$status" != 0 ] || grep -q '^skip' "$work/no-display.out"; then
        echo "the calls without a display failed (exit $status)"
        failures=1
      fi
    fi
    exit $failures
    ;;
  board)
    lensbay=$3 ocxhost=$4 regsvr=$5 ocx=$6
    [ -f "$dest/win64/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for 64-bit programs (no such Wine build)"
    { [ -n "$WINE32" ] && [ -f "$dest/win32/PINBUS.OCX" ]; } ||
      skip "Pinbus is not registered in $prefix for 32-bit programs (no 32-bit build, or Wine's 32-bit side is not installed)"
    failures=0
    native "$ocxhost" "$regsvr" "$ocx" /dev/null >/dev/null || { echo "cannot register natively"; exit 1; }
    rm -f "$LENSBAY_SIM_STATE"
    # Sets the board's switches by hand (A3 first) through lensbay's console.
    switches() {
      printf 'follow off\nswitches %s\nquit\n' "$1" | timeout 60 "$lensbay" --console \
        >"$work/console.out" 2>&1 ||
        { echo "lensbay's console did not set the switches to $1:"; cat "$work/console.out"; exit 1; }
    }
    # latch KIND BYTE: the 32-bit or 64-bit script, or the native container, latches BYTE (as on
    # the wires); its port trace is exactly the four cycles.
    latch() {
      local kind=$1 byte=$2 loader want
      rm -f "$work/latch.trace"
      if [ "$kind" = native ]; then
        printf 'create PINBUS.PinbusCtrl.1\nput Address 888\nput Value %d\nput Address 890\nput Value 0\nput Value 1\nput Value 0\n' \
          "$byte" >"$work/latch.ocxhost"
        PORTIO_TRACE=$work/latch.trace native "$ocxhost" "$regsvr" "$ocx" "$work/latch.ocxhost" \
          >"$work/latch.out" 2>&1
        [ "$(grep -vc '^S_OK$' "$work/latch.out")" = 0 ] ||
          { echo "ocxhost did not latch $byte:"; cat "$work/latch.out"; failures=1; }
      else
        loader=WINE$kind
        PORTIO_TRACE=$work/latch.trace timeout 120 "${!loader}" cscript //nologo \
          "$(windows_path "$here/pinbus_latch.vbs")" "$byte" 2>"$work/latch.err" |
          tr -d '\r' >"$work/latch.out"
        [ "${PIPESTATUS[0]}" = 0 ] && [ "$(cat "$work/latch.out")" = "latched $byte" ] ||
          { echo "the $kind-bit script did not latch $byte:"; cat "$work/latch.out" "$work/latch.err"; failures=1; }
      fi
      want=$(printf 'out8 0x0378 0x%02x\nout8 0x037a 0x00\nout8 0x037a 0x01\nout8 0x037a 0x00' "$byte")
      [ "$(cat "$work/latch.trace" 2>/dev/null)" = "$want" ] ||
        { echo "the $kind latch's port trace:"; cat "$work/latch.trace"; failures=1; }
    }
    # The board's switches and latched registers as its state file keeps them, on one line.
    expect() {
      local got
      got=$(grep -E '^(switches|register) ' "$LENSBAY_SIM_STATE" | tr '\n' ' ')
      [ "$got" = "$1 " ] || { echo "after $2 the board holds: $got"; echo "want: $1"; failures=1; }
    }
    switches 0010
    latch 32 20  # EXCTL 0x28: exposure 40
    expect 'switches 0010 register EXCTL 28' "the 32-bit script's latch"
    switches 0011
    latch 64 160  # GCTL 0x05: gain 5
    expect 'switches 0011 register EXCTL 28 register GCTL 05' "the 64-bit script's latch"
    switches 0100
    latch native 192  # FRCTL 0x03: divider 4
    expect 'switches 0100 register EXCTL 28 register GCTL 05 register FRCTL 03' "ocxhost's latch"
    switches 0110
    latch 32 9  # HWCTL 0x90: h_start 9, h_end 0
    expect 'switches 0110 register EXCTL 28 register GCTL 05 register FRCTL 03 register HWCTL 90' \
      "the 32-bit script's second latch"
    # lensbay sees the chip holding what each program latched.
    timeout 60 "$lensbay" status >"$work/status.out" 2>&1 ||
      { echo "lensbay status failed:"; cat "$work/status.out"; exit 1; }
    got=$(awk '$1 ~ /^(exposure|gain|divider|h_start|h_end)$/ { printf "%s=%s ", $1, $NF }' \
      "$work/status.out")
    [ "$got" = "exposure=40 gain=5 divider=4 h_start=9 h_end=0 " ] ||
      { echo "lensbay status shows: $got"; cat "$work/status.out"; failures=1; }
    grep -q 'switches A\[3:0\] are at 0110, set by hand' "$work/status.out" ||
      { echo "lensbay status does not show the switches at 0110:"; cat "$work/status.out"; failures=1; }
    [ "$failures" = 0 ] &&
      echo "the 32-bit and 64-bit scripts, ocxhost and lensbay share one board: $got"
    exit $failures
    ;;
  claim)
    lensbay=$3 client=$4 ocxhost=$5 regsvr=$6 ocx=$7
    [ -f "$client.so" ] || skip "the Winelib client was not built (wine64-tools)"
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    failures=0
    # The native lensbay holds the board (its console waits on a pipe that stays open).
    native "$ocxhost" "$regsvr" "$ocx" /dev/null >/dev/null || { echo "cannot register natively"; exit 1; }
    # Polls (at most a minute) until the board's lock names a holder; prints it.
    holder() {
      local i
      for ((i = 0; i < 600; i++)); do
        if [ -s "$LENSBAY_SIM_STATE.port" ]; then
          cat "$LENSBAY_SIM_STATE.port"
          return 0
        fi
        sleep 0.1
      done
      return 1
    }
    mkfifo "$work/console" || exit 1
    PORTIO_TRACE=$work/lensbay.trace "$lensbay" --console <"$work/console" >"$work/lensbay.out" 2>&1 &
    console=$!
    exec 8>"$work/console"
    held=$(holder) || { echo "lensbay never held the board"; cat "$work/lensbay.out"; exit 1; }
    want="the port 0x378 (the simulated board kept in $LENSBAY_SIM_STATE) is in use by lensbay, process $console"
    [ "$held" = "lensbay $console" ] || { echo "the lock names '$held', not lensbay $console"; failures=1; }
    PORTIO_TRACE=$work/refused.trace timeout 120 "$run" cscript //nologo \
      "$(windows_path "$here/pinbus_refused.vbs")" 2>/dev/null | tr -d '\r' >"$work/refused.out"
    status=${PIPESTATUS[0]}
    cat "$work/refused.out"
    for call in get put; do
      got=$(grep "^$call " "$work/refused.out")
      [ "$got" = "$call -2147467259 $want" ] ||
        { echo "want: $call -2147467259 $want"; echo "got:  $got"; failures=1; }
    done
    [ "$status" = 0 ] || { echo "the script saw no error (exit $status)"; failures=1; }
    [ ! -s "$work/refused.trace" ] || { echo "the script's cycles reached the port:"; cat "$work/refused.trace"; failures=1; }
    exec 8>&-
    wait "$console" || { echo "lensbay failed:"; cat "$work/lensbay.out"; failures=1; }
    [ ! -s "$LENSBAY_SIM_STATE.port" ] || { echo "lensbay left the board claimed"; failures=1; }

    # A Windows program holds the board; lensbay is refused naming it. (Wine's cscript cannot
    # wait: it has no WScript.Sleep nor StdIn.)
    rm -f "$work/release"
    PORTIO_TRACE=$work/script.trace timeout 120 "$run" "$client.so" hold \
      "$(windows_path "$work/release")" >"$work/script.out" 2>&1 &
    script=$!
    held=$(holder) || { echo "the program never held the board:"; cat "$work/script.out"; exit 1; }
    echo "the Windows program's process holds the board: $held"
    PORTIO_TRACE=$work/lensbay2.trace "$lensbay" set exposure=40 --yes >"$work/set.out" 2>&1
    status=$?
    touch "$work/release"
    wait "$script" || { echo "the program failed:"; cat "$work/script.out"; failures=1; }
    name=${held% *} pid=${held##* }
    [ "$name" = "$(basename "$client").so" ] || { echo "the holder is named '$name'"; failures=1; }
    want="lensbay: the port 0x378 (the simulated board kept in $LENSBAY_SIM_STATE) is in use by $name, process $pid"
    if [ "$status" != 3 ] || [ "$(cat "$work/set.out")" != "$want" ]; then
      echo "lensbay was not refused (exit $status):"; cat "$work/set.out"; echo "want: $want"; failures=1
    fi
    [ ! -s "$work/lensbay2.trace" ] || { echo "lensbay's cycles reached the port"; failures=1; }
    [ "$(cat "$work/script.trace")" = "out8 0x037a 0x27" ] || { echo "the program's trace:"; cat "$work/script.trace"; failures=1; }
    [ ! -s "$LENSBAY_SIM_STATE.port" ] || { echo "the program left the board claimed"; failures=1; }

    # Across the kinds of program: a program of one kind holds the board, a script of the other
    # is refused naming it (the one board, the one claim, whichever module a program loads).
    other_client=${8:-}
    if [ "$bits" = 32 ]; then
      [ -f "$other_client.so" ] || { echo "the 64-bit client was not built"; exit 1; }
      for holder_bits in 32 64; do
        if [ "$holder_bits" = 32 ]; then
          holder_run=$WINE32 holder_exe=$client script_run=$WINE64
        else
          holder_run=$WINE64 holder_exe=$other_client script_run=$WINE32
        fi
        rm -f "$work/release"
        timeout 120 "$holder_run" "$holder_exe.so" hold "$(windows_path "$work/release")" \
          >"$work/holder.out" 2>&1 &
        holding=$!
        held=$(holder) || { echo "the $holder_bits-bit program never held the board"; cat "$work/holder.out"; exit 1; }
        want="the port 0x378 (the simulated board kept in $LENSBAY_SIM_STATE) is in use by ${held% *}, process ${held##* }"
        PORTIO_TRACE=$work/cross.trace timeout 120 "$script_run" cscript //nologo \
          "$(windows_path "$here/pinbus_refused.vbs")" 2>/dev/null | tr -d '\r' >"$work/cross.out"
        touch "$work/release"
        wait "$holding" || { echo "the $holder_bits-bit program failed:"; cat "$work/holder.out"; failures=1; }
        for call in get put; do
          got=$(grep "^$call " "$work/cross.out")
          [ "$got" = "$call -2147467259 $want" ] || {
            echo "while the $holder_bits-bit program holds the board, the other kind's script:"
            echo "want: $call -2147467259 $want"; echo "got:  $got"; failures=1
          }
        done
        [ ! -s "$work/cross.trace" ] || { echo "the refused script's cycles reached the port"; failures=1; }
        [ "${held% *}" = "$(basename "$holder_exe").so" ] || { echo "the holder is named '${held% *}'"; failures=1; }
        echo "while the $holder_bits-bit program holds the board, the other kind's script is refused"
      done
    fi
    exit $failures
    ;;
  client)
    client=$3 ocxhost=$4 regsvr=$5 ocx=$6
    [ -f "$client.so" ] || skip "the Winelib client was not built (wine64-tools)"
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    failures=0
    # The native control's stream after the client's own puts.
    printf 'create PINBUS.PinbusCtrl.1\ninitnew\nput Address 632\nput Bits 16 VT_I2\nsave\n' \
      >"$work/save.ocxhost"
    native_stream=$(native "$ocxhost" "$regsvr" "$ocx" "$work/save.ocxhost" | tail -1 | tr -d ' ')
    [ -n "$native_stream" ] || { echo "ocxhost saved nothing"; exit 1; }
    # The container part needs windows, so a display: Xvfb where it is installed. The prefix's
    # desktop belongs to the Wine session that made it, and a session begun without a display
    # makes no windows: this run waits for the prefix's session to end and begins its own.
    # Its session ends before the display does.
    runner=("$run")
    if command -v xvfb-run >/dev/null; then
      runner=(xvfb-run -a bash -c '"$0" "$@"; s=$?; timeout 60 wineserver -w; exit $s' "$run")
      timeout 60 wineserver -w
    fi
    timeout 120 "${runner[@]}" "$client.so" "$native_stream" >"$work/client.out" \
      2>"$work/client.err"
    status=$?
    tr -d '\r' <"$work/client.out" | tee "$work/client.txt"
    if [ "$status" != 0 ]; then
      echo "the client failed (exit $status)"
      cat "$work/client.err"
      failures=1
    fi
    if grep -q '^skip ' "$work/client.txt" && [ "${WINE_REQUIRED:-0}" = 1 ]; then
      echo "FAIL (WINE_REQUIRED=1): the container check was skipped (xvfb-run is in xvfb)"
      failures=1
    fi
    wine_stream=$(sed -n 's/^stream //p' "$work/client.txt")
    if [ "$wine_stream" != "$native_stream" ]; then
      echo "the streams differ: native $native_stream, Wine $wine_stream"
      failures=1
    fi
    # The native control loads the stream saved under Wine.
    printf 'create PINBUS.PinbusCtrl.1\nload %s\nget Address\nget Bits\n' "$wine_stream" \
      >"$work/load.ocxhost"
    native "$ocxhost" "$regsvr" "$ocx" "$work/load.ocxhost" >"$work/load.out" 2>&1
    if [ "$(tr '\n' '|' <"$work/load.out")" != "S_OK|S_OK|VT_I4 632|VT_I2 16|" ]; then
      echo "the native control does not load the stream saved under Wine:"
      cat "$work/load.out"
      failures=1
    fi
    exit $failures
    ;;
  windows-programs)
    dir=$3 ocxhost=$4 regsvr=$5 ocx=$6
    shift 6
    [ $# -gt 0 ] || skip "no Windows test programs were built (g++-mingw-w64-i686, g++-mingw-w64-x86-64)"
    command -v xvfb-run >/dev/null || skip "xvfb-run is not installed (apt-get install xvfb)"
    failures=0
    for arch in "$@"; do
      kind=64 pe_kind=win64
      [ "$arch" = i686 ] && kind=32 pe_kind=win32
      if [ ! -f "$dest/$pe_kind/PINBUS.OCX" ]; then
        [ "${WINE_REQUIRED:-0}" = 1 ] && { echo "FAIL: Pinbus is not registered for $kind-bit programs"; failures=1; }
        echo "skip $arch: Pinbus is not registered for $kind-bit programs"
        continue
      fi
      # Plain wine, as a user runs a Windows program: the loader picks the program's kind. The
      # form host makes windows: a display of its own, and a Wine session begun on it.
      timeout 60 wineserver -w
      timeout 180 xvfb-run -a bash -c 'wine "$@"; s=$?; timeout 60 wineserver -w; exit $s' wine \
        "$dir/form_host_$arch.exe" >"$work/host.out" 2>"$work/host.err"
      status=$?
      tr -d '\r' <"$work/host.out" | sed "s/^/$arch: /"
      tr -d '\r' <"$work/host.out" >"$work/host.txt"
      if [ "$status" != 0 ] || ! grep -q "^host $kind-bit" "$work/host.txt"; then
        echo "the $arch form host failed (exit $status)"
        cat "$work/host.err"
        failures=1
      fi
      # The control keeps itself in a compound file (IPersistStorage): no check may be skipped.
      if grep -q '^skip' "$work/host.txt"; then
        echo "the $arch form host skipped a check"
        failures=1
      fi
      # The native control loads the stream the Windows program saved.
      stream=$(sed -n 's/^stream //p' "$work/host.txt")
      printf 'create PINBUS.PinbusCtrl.1\nload %s\nget Address\nget Bits\n' "$stream" \
        >"$work/load.ocxhost"
      native "$ocxhost" "$regsvr" "$ocx" "$work/load.ocxhost" >"$work/load.out" 2>&1
      if [ "$(tr '\n' '|' <"$work/load.out")" != "S_OK|S_OK|VT_I4 956|VT_I2 16|" ]; then
        echo "the native control does not load the $arch form host's stream $stream:"
        cat "$work/load.out"
        failures=1
      fi
      # The README's example client, as written.
      rm -f "$LENSBAY_SIM_STATE"
      PORTIO_TRACE=$work/example.trace timeout 120 wine "$dir/pinbus_example_$arch.exe" \
        >"$work/example.out" 2>"$work/example.err"
      status=$?
      if [ "$status" != 0 ] || [ "$(tr -d '\r' <"$work/example.out")" != "control register: 8" ] ||
        [ "$(cat "$work/example.trace")" != "$(printf 'out8 0x037a 0x08\nin8 0x037a 0x08')" ]; then
        echo "the $arch example client failed (exit $status):"
        cat "$work/example.out" "$work/example.err" "$work/example.trace"
        failures=1
      else
        echo "$arch: the example client prints: control register: 8"
      fi
    done
    exit $failures
    ;;
  unregister)
    wine_dir=$3
    [ -f "$dest/$pe/PINBUS.OCX" ] || skip "Pinbus is not registered in $prefix for $bits-bit programs (no such Wine build)"
    timeout 120 bash "$wine_dir/register_pinbus.sh" --unregister "$prefix" || exit 1
    failures=0
    views=(64)
    [ -n "$WINE32" ] && views+=(32)
    for view in "${views[@]}"; do
      for key in "CLSID\\$clsid" "CLSID\\{6B2F14D4-5C83-11D0-9E41-0040A7B3C250}" \
        'PINBUS.PinbusCtrl.1' "TypeLib\\$libid" "Interface\\$iid"; do
        if query "$key" "$view" >/dev/null; then
          echo "left behind in the $view-bit view: HKCR\\$key"
          query "$key" "$view"
          failures=1
        fi
      done
    done
    [ ! -e "$dest" ] || { echo "C:\\pinbus is left behind"; failures=1; }
    [ "$failures" = 0 ] &&
      echo "regsvr32 /u removed the class, its ProgID, library and interfaces from both views"
    exit $failures
    ;;
  *)
    echo "usage: see the head of $0" >&2
    exit 2
    ;;
esac
