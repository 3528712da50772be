#!/usr/bin/env bash
# Registers the Wine build of PINBUS.OCX (the files beside this script) into a Wine prefix, or
# removes it again.
#
#   register_pinbus.sh [--unregister] WINEPREFIX
#
# The module goes to C:\pinbus\ of the prefix (WINEPREFIX/drive_c/pinbus): the placeholder
# PINBUS.OCX, which the class registry names, and the Winelib module PINBUS.OCX.so beside it,
# also under its lower-case name, where the loader looks it up. Wine's regsvr32 then registers the
# control. Programs that create Pinbus objects need WINEDLLPATH to name that folder; the script
# prints the line to use. A prefix that does not exist yet is made first.
set -uo pipefail

usage() {
  cat <<'EOF'
usage: register_pinbus.sh [--unregister] WINEPREFIX
Registers the Wine build of PINBUS.OCX (the files beside this script) into the Wine prefix
WINEPREFIX, made first when it does not exist: the module is copied to C:\pinbus\ and Wine's
regsvr32 registers it. --unregister runs regsvr32 /u and removes C:\pinbus\ again.
Programs that create Pinbus objects need WINEDLLPATH=WINEPREFIX/drive_c/pinbus.
Exit status: 0 done, 1 a step failed, 2 bad arguments.
EOF
}

here=$(cd "$(dirname "$0")" && pwd) || exit 1
unregister=0
case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
  --unregister)
    unregister=1
    shift
    ;;
esac
if [ $# -ne 1 ] || [ -z "$1" ] || [ "${1#-}" != "$1" ]; then
  if [ $# -eq 1 ] && [ "${1#-}" != "$1" ]; then echo "register_pinbus.sh: unknown option $1" >&2; fi
  usage >&2
  exit 2
fi
prefix=$(realpath -m -- "$1") || exit 1
# The 64-bit loader: where Wine's 32-bit side is installed (Debian's wine32), plain `wine` is the
# 32-bit one, whose regsvr32 cannot load a 64-bit module, and Debian keeps the 64-bit loader off
# PATH; without it, plain `wine` runs the 64-bit one.
if command -v wine64 >/dev/null; then
  wine64=$(command -v wine64)
elif [ -x /usr/lib/wine/wine64 ]; then
  wine64=/usr/lib/wine/wine64
elif command -v wine >/dev/null; then
  wine64=$(command -v wine)
else
  echo "register_pinbus.sh: wine is not installed" >&2
  exit 1
fi
for f in PINBUS.OCX PINBUS.OCX.so; do
  [ -f "$here/$f" ] || { echo "register_pinbus.sh: $here/$f is missing (build the target pinbus_wine)" >&2; exit 1; }
done

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
dest=$prefix/drive_c/pinbus
export WINEDLLPATH=$dest${WINEDLLPATH:+:$WINEDLLPATH}

if [ "$unregister" = 1 ] && [ ! -f "$dest/PINBUS.OCX" ]; then
  echo "register_pinbus.sh: Pinbus is not installed in $prefix" >&2
  exit 1
fi
if [ ! -d "$prefix/drive_c/windows" ]; then
  echo "making the Wine prefix $prefix"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine64" wineboot --init >/dev/null 2>&1 || {
    echo "register_pinbus.sh: wineboot --init failed for $prefix" >&2
    exit 1
  }
fi

if [ "$unregister" = 1 ]; then
  "$wine64" regsvr32 /s /u 'C:\pinbus\PINBUS.OCX'
  status=$?
  if [ "$status" != 0 ]; then
    echo "register_pinbus.sh: regsvr32 /u failed (exit $status)" >&2
    exit 1
  fi
  rm -rf "$dest" || exit 1
  echo "unregistered Pinbus from $prefix"
  exit 0
fi

mkdir -p "$dest" || exit 1
# Copies, so that a later build does not change a registered control under its hosts' feet.
cp -f "$here/PINBUS.OCX" "$here/PINBUS.OCX.so" "$dest/" || exit 1
ln -sfn PINBUS.OCX.so "$dest/pinbus.ocx.so" || exit 1
"$wine64" regsvr32 /s 'C:\pinbus\PINBUS.OCX'
status=$?
if [ "$status" != 0 ]; then
  echo "register_pinbus.sh: regsvr32 failed (exit $status)" >&2
  exit 1
fi
# A word as sh reads it back: as it is when it holds nothing sh treats specially, else in single
# quotes (a quote inside as '\'').
sh_word() {
  case $1 in
    '' | *[!A-Za-z0-9_./:@%+,=-]*) printf "'%s'" "${1//\'/\'\\\'\'}" ;;
    *) printf '%s' "$1" ;;
  esac
}
echo "registered Pinbus (C:\\pinbus\\PINBUS.OCX) in $prefix"
echo "run its hosts with: WINEPREFIX=$(sh_word "$prefix") WINEDLLPATH=$(sh_word "$dest") wine ..."
