#!/usr/bin/env bash
# package-test.sh BUILD_DIR: builds the Debian package from an existing build folder, installs it
# with apt-get, checks that the installed programs work together (regsvr registers the installed
# PINBUS.OCX in a temporary class registry, lensbay --console captures a frame on the simulated
# board), then removes the package again. Needs root (or sudo). Exits non-zero on any failure,
# saying what failed.
set -euo pipefail

fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}

[ $# -eq 1 ] || { echo "Usage: scripts/package-test.sh BUILD_DIR" >&2; exit 2; }
[ -f "$1/CPackConfig.cmake" ] || fail "$1 is not a configured build folder (no CPackConfig.cmake)"
build=$(cd "$1" && pwd)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "installing the package needs root or sudo"
  sudo="sudo"
fi
command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps not found: install dpkg-dev"

echo "-- building the package in $build"
rm -f "$build"/lensbay_*.deb
(cd "$build" && cpack -G DEB) >"$build/package-test-cpack.log" 2>&1 ||
  { tail -30 "$build/package-test-cpack.log" >&2; fail "cpack -G DEB did not build the package"; }
debs=("$build"/lensbay_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one lensbay_*.deb in $build"
deb=${debs[0]}
echo "-- $(basename "$deb")"

# What goes in: the programs, the private libraries and PINBUS.OCX, the template, desktop files;
# nothing of the tests or benchmarks.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
for file in /usr/bin/lensbay /usr/bin/regsvr /usr/bin/ocxhost /usr/lib/lensbay/PINBUS.OCX \
            /usr/lib/lensbay/libcom.so /usr/lib/lensbay/libportio.so /usr/lib/lensbay/libsim.so \
            /usr/share/lensbay/bmphead1; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
if grep -Ei 'test|bench|fuzz|TLTEST|rescomp|write_bmphead1|render_icon' <<<"$contents"; then
  fail "the package holds the files above, which must not be installed"
fi
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package declares no dependencies (dpkg-shlibdeps did not run?)"
echo "-- Depends: $depends"

work=$(mktemp -d)
installed=""
cleanup() {
  if [ -n "$installed" ]; then
    echo "-- removing the package"
    $sudo apt-get remove -y --purge lensbay >"$work/remove.log" 2>&1 ||
      echo "package-test: apt-get remove -y --purge lensbay failed, see $work/remove.log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- installing"
# apt-get wants a path with a slash to take a local file rather than a package name.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$work/install.log" 2>&1 ||
  { tail -30 "$work/install.log" >&2; fail "apt-get install -y $deb"; }
installed=yes

# The installed programs, with nothing of the build on their paths.
export OLE_REGISTRY="$work/registry.reg"
export PORTIO=sim
unset PORTIO_TRACE LD_LIBRARY_PATH DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir "$work/run"
cd "$work/run"

for program in lensbay regsvr ocxhost; do
  version=$("/usr/bin/$program" --version) || fail "$program --version exited non-zero"
  [[ "$version" == "$program "[0-9]* ]] || fail "$program --version printed '$version'"
done

# Not registered yet: lensbay says so and names the installed PINBUS.OCX.
set +e
echo quit | /usr/bin/lensbay --console >"$work/unregistered.out" 2>"$work/unregistered.err"
status=$?
set -e
[ $status -eq 2 ] || fail "unregistered start: exit status $status, expected 2"
grep -qF "register it with: regsvr /usr/lib/lensbay/PINBUS.OCX" "$work/unregistered.err" ||
  fail "unregistered start does not name the installed PINBUS.OCX: $(cat "$work/unregistered.err")"

/usr/bin/regsvr /usr/lib/lensbay/PINBUS.OCX >"$work/regsvr.out" 2>&1 ||
  fail "regsvr /usr/lib/lensbay/PINBUS.OCX: $(cat "$work/regsvr.out")"

set +e
printf 'enter Text1 100\npress Command1\npress Capture\nquit\n' |
  /usr/bin/lensbay --console >"$work/console.out" 2>"$work/console.err"
status=$?
set -e
[ $status -eq 0 ] || fail "lensbay --console exited $status: $(cat "$work/console.err")"
tab=$'\t'
for line in "box${tab}Operation Notice${tab}Please select VPORT register A[3:0]=1000" \
            "box${tab}SX540 Control Panel${tab}Please select EXCTL register A[3:0]=0010" \
            "box${tab}SX540 Control Panel${tab}Please VPORT register A[3:0]=1000" \
            "monitor${tab}6144${tab}4608${tab}picture"; do
  grep -qxF "$line" "$work/console.out" ||
    fail "lensbay --console did not print '$line'; it printed:
$(cat "$work/console.out" "$work/console.err")"
done
[ -f image.bmp ] || fail "lensbay --console wrote no image.bmp"
size=$(stat -c %s image.bmp)
[ "$size" -eq 111959 ] || fail "image.bmp is $size bytes, expected 111959"

echo "-- package test passed"
