#!/usr/bin/env bash
# Registers the Wine build of PINBUS.OCX (the files beside this script, and the 32-bit build in
# ../wine32 where it was made) into a Wine prefix, or removes it again.
#
#   register_pinbus.sh [--unregister] WINEPREFIX
#
# The modules go to C:\pinbus\ of the prefix (WINEPREFIX/drive_c/pinbus), one folder per kind of
# program, as Wine's own files are laid out:
#   win64\PINBUS.OCX      the 64-bit placeholder PE module, which the 64-bit registry view names
#   x86_64-unix\          the 64-bit Winelib module PINBUS.OCX.so (and pinbus.ocx.so, the name the
#                         loader looks up) with the port service and what it links
#   win32\PINBUS.OCX      the 32-bit placeholder (PE32), which the 32-bit registry view names
#   i386-unix\            the 32-bit module and its port service
# Each module finds its libraries beside itself, so the folder loads nothing from the build.
# The 64-bit regsvr32 registers the 64-bit module and the 32-bit one the 32-bit module; without
# Wine's 32-bit side (Debian's wine32) or the 32-bit build, only the 64-bit module is registered.
# Programs that create Pinbus objects need WINEDLLPATH to name C:\pinbus's Unix path: Wine looks
# in its per-architecture subfolders, so one line serves both kinds; the script prints it. A
# prefix that does not exist yet is made first.
set -uo pipefail

usage() {
  cat <<'EOF'
usage: register_pinbus.sh [--unregister] WINEPREFIX
Registers the Wine build of PINBUS.OCX (the files beside this script, and the 32-bit build in
../wine32 where there is one) into the Wine prefix WINEPREFIX, made first when it does not exist:
the modules are copied to C:\pinbus\ and Wine's regsvr32 registers each, the 64-bit module by the
64-bit regsvr32 and the 32-bit one by the 32-bit regsvr32. --unregister runs regsvr32 /u for each
and removes C:\pinbus\ again.
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
# Wine's loaders. Where Wine's 32-bit side is installed (Debian's wine32), plain `wine` is the
# 32-bit loader, whose regsvr32 cannot load a 64-bit module, and Debian keeps the 64-bit loader
# off PATH; without it, plain `wine` runs the 64-bit one.
wine64='' wine32=''
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
if [ -x /usr/lib/wine/wine ]; then
  wine32=/usr/lib/wine/wine
elif command -v wine64 >/dev/null && command -v wine >/dev/null; then
  wine32=$(command -v wine)
fi
build32=$(cd "$here/../wine32" 2>/dev/null && pwd) || build32=''

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
dest=$prefix/drive_c/pinbus
export WINEDLLPATH=$dest${WINEDLLPATH:+:$WINEDLLPATH}

# One line per kind: its name in the messages, its loader, its folders and its build.
kinds=(64)
if [ -n "$build32" ] && [ -f "$build32/PINBUS.OCX.so" ] && [ -n "$wine32" ]; then
  kinds+=(32)
elif [ "$unregister" = 0 ]; then
  if [ -z "$wine32" ]; then
    note="Wine's 32-bit side is not installed (Debian: wine32:i386)"
  else
    note="there is no 32-bit build beside this one ($here/../wine32: build with wine32:i386, libwine-dev:i386 and g++-multilib installed)"
  fi
  echo "register_pinbus.sh: $note: registering for 64-bit programs only"
fi
loader() { if [ "$1" = 64 ]; then echo "$wine64"; else echo "$wine32"; fi; }
pe_dir() { if [ "$1" = 64 ]; then echo win64; else echo win32; fi; }
unix_dir() { if [ "$1" = 64 ]; then echo x86_64-unix; else echo i386-unix; fi; }
build_dir() { if [ "$1" = 64 ]; then echo "$here"; else echo "$build32"; fi; }

if [ "$unregister" = 1 ]; then
  [ -f "$dest/win64/PINBUS.OCX" ] || [ -f "$dest/win32/PINBUS.OCX" ] || {
    echo "register_pinbus.sh: Pinbus is not installed in $prefix" >&2
    exit 1
  }
  failed=0
  # The 32-bit module first: each removes its own view's entries and its library's system kind.
  for kind in 32 64; do
    [ -f "$dest/$(pe_dir $kind)/PINBUS.OCX" ] || continue
    run=$(loader $kind)
    if [ -z "$run" ]; then
      echo "register_pinbus.sh: the 32-bit module is registered, but Wine's 32-bit side is not installed: its entries stay" >&2
      failed=1
      continue
    fi
    "$run" regsvr32 /s /u "C:\\pinbus\\$(pe_dir $kind)\\PINBUS.OCX"
    status=$?
    if [ "$status" != 0 ]; then
      echo "register_pinbus.sh: the $kind-bit regsvr32 /u failed (exit $status)" >&2
      failed=1
    fi
  done
  [ "$failed" = 0 ] || exit 1
  rm -rf "$dest" || exit 1
  echo "unregistered Pinbus from $prefix"
  exit 0
fi

for kind in "${kinds[@]}"; do
  for f in PINBUS.OCX PINBUS.OCX.so libportio.so; do
    [ -f "$(build_dir $kind)/$f" ] || {
      echo "register_pinbus.sh: $(build_dir $kind)/$f is missing (build the target pinbus_wine)" >&2
      exit 1
    }
  done
done
if [ ! -d "$prefix/drive_c/windows" ]; then
  echo "making the Wine prefix $prefix"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine64" wineboot --init >/dev/null 2>&1 || {
    echo "register_pinbus.sh: wineboot --init failed for $prefix" >&2
    exit 1
  }
fi

registered=()
for kind in "${kinds[@]}"; do
  from=$(build_dir $kind) pe=$dest/$(pe_dir $kind) unix=$dest/$(unix_dir $kind)
  mkdir -p "$pe" "$unix" || exit 1
  # Copies, so that a later build does not change a registered control under its hosts' feet;
  # the module and the libraries it finds beside itself (RUNPATH $ORIGIN).
  cp -f "$from/PINBUS.OCX" "$pe/" || exit 1
  cp -f "$from/PINBUS.OCX.so" "$from"/lib*.so "$unix/" || exit 1
  ln -sfn PINBUS.OCX.so "$unix/pinbus.ocx.so" || exit 1
  "$(loader $kind)" regsvr32 /s "C:\\pinbus\\$(pe_dir $kind)\\PINBUS.OCX"
  status=$?
  if [ "$status" != 0 ]; then
    echo "register_pinbus.sh: the $kind-bit regsvr32 failed (exit $status)" >&2
    exit 1
  fi
  registered+=("C:\\pinbus\\$(pe_dir $kind)\\PINBUS.OCX")
done
# A word as sh reads it back: as it is when it holds nothing sh treats specially, else in single
# quotes (a quote inside as '\'').
sh_word() {
  case $1 in
    '' | *[!A-Za-z0-9_./:@%+,=-]*) printf "'%s'" "${1//\'/\'\\\'\'}" ;;
    *) printf '%s' "$1" ;;
  esac
}
if [ "${#registered[@]}" = 2 ]; then
  echo "registered Pinbus for 64-bit programs (${registered[0]}) and 32-bit programs (${registered[1]}) in $prefix"
else
  echo "registered Pinbus for 64-bit programs (${registered[0]}) in $prefix"
fi
echo "run its hosts with: WINEPREFIX=$(sh_word "$prefix") WINEDLLPATH=$(sh_word "$dest") wine ..."
