#!/usr/bin/env bash
# package-test.sh BUILD_DIR: builds the Debian package from an existing build folder, installs it
# with apt-get, checks that the installed programs work together (regsvr registers the installed
# PINBUS.OCX in a temporary class registry, lensbay --console captures a frame on the simulated
# board), that a fresh account can capture right after installing (the package registers
# PINBUS.OCX machine-wide), that the GStreamer element is found and that the system's python3
# imports the Python module and captures a frame with it, then purges the package and
# checks that no machine-wide registry entry is left behind. Needs root (or sudo). Exits non-zero on any failure,
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
            /usr/lib/lensbay/libbase.so /usr/lib/lensbay/libcom.so /usr/lib/lensbay/libportio.so \
            /usr/lib/lensbay/libsim.so /usr/share/lensbay/bmphead1 /usr/share/doc/lensbay/copyright; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
if grep -Ei 'test|bench|fuzz|TLTEST|rescomp|write_bmphead1|render_icon' <<<"$contents"; then
  fail "the package holds the files above, which must not be installed"
fi
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package declares no dependencies (dpkg-shlibdeps did not run?)"
echo "-- Depends: $depends"
if grep -qx /usr/lib/lensbay/libui.so <<<"$contents"; then
  grep -qw qt6-wayland <<<"$depends" || fail "the package does not depend on qt6-wayland"
fi
plugin=$(grep -E '/gstreamer-1\.0/libgstlensbay\.so$' <<<"$contents" || true)
[ -n "$plugin" ] || fail "the package lacks the GStreamer plugin libgstlensbay.so"
python_module=""
if [ -e "$build/python/lensbay/__init__.py" ]; then
  python_module=/usr/lib/python3/dist-packages/lensbay
  for file in __init__.py __init__.pyi py.typed; do
    grep -qx "$python_module/$file" <<<"$contents" || fail "the package lacks $python_module/$file"
  done
  grep -qE "^$python_module/_lensbay\..*\.so$" <<<"$contents" ||
    fail "the package lacks the Python module's native part in $python_module"
  grep -qw python3-numpy <<<"$depends" || fail "the package does not depend on python3-numpy"
fi
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" >/dev/null 2>&1 || fail "the package has no $script script"
done
machine_registry=/var/lib/lensbay/registry.reg
clsid=6B2F14D3-5C83-11D0-9E41-0040A7B3C250

work=$(mktemp -d)
installed=""
cleanup() {
  if [ -n "$installed" ]; then
    echo "-- removing the package"
    $sudo apt-get -o DPkg::Lock::Timeout=600 remove -y --purge lensbay >"$work/remove.log" 2>&1 ||
      echo "package-test: apt-get remove -y --purge lensbay failed, see $work/remove.log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- installing"
# apt-get wants a path with a slash to take a local file rather than a package name.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y "$deb" >"$work/install.log" 2>&1 ||
  { tail -30 "$work/install.log" >&2; fail "apt-get install -y $deb"; }
installed=yes

# The package registered PINBUS.OCX for every user.
grep -qi "$clsid" "$machine_registry" 2>/dev/null ||
  fail "installing did not register PINBUS.OCX in $machine_registry"

# A fresh account: its own empty home, no registry of its own, nothing of ours in its environment.
fresh_home="$work/fresh-home"
mkdir -p "$fresh_home"
chown nobody "$fresh_home" 2>/dev/null || $sudo chown nobody "$fresh_home"
chmod 755 "$work"
as_fresh_user() {
  local run=(env -i HOME="$fresh_home" PATH=/usr/bin:/bin PORTIO=sim "$@")
  if [ "$(id -u)" -eq 0 ]; then
    (cd "$fresh_home" && runuser -u nobody -- "${run[@]}")
  else
    (cd "$fresh_home" && sudo -u nobody -- "${run[@]}")
  fi
}
set +e
printf 'press Capture\nquit\n' | as_fresh_user /usr/bin/lensbay --console \
  >"$work/fresh.out" 2>"$work/fresh.err"
status=$?
set -e
[ $status -eq 0 ] || fail "a fresh account's lensbay --console exited $status: $(cat "$work/fresh.err")"
grep -qF "monitor"$'\t'"6144"$'\t'"4608"$'\t'"picture" "$work/fresh.out" ||
  fail "a fresh account's capture showed no picture: $(cat "$work/fresh.out" "$work/fresh.err")"
[ "$(stat -c %s "$fresh_home/image.bmp" 2>/dev/null)" = 111959 ] ||
  fail "a fresh account's capture wrote no full-frame image.bmp"
as_fresh_user /usr/bin/lensbay capture -o "$fresh_home/shot.png" >"$work/fresh-cli.out" 2>&1 ||
  fail "a fresh account's lensbay capture failed: $(cat "$work/fresh-cli.out")"
if command -v gst-inspect-1.0 >/dev/null; then
  as_fresh_user gst-inspect-1.0 lensbaysrc >"$work/inspect.out" 2>&1 ||
    fail "gst-inspect-1.0 lensbaysrc does not find the installed element: $(tail -5 "$work/inspect.out")"
  as_fresh_user gst-launch-1.0 -q lensbaysrc num-buffers=2 ! fakesink >"$work/launch.out" 2>&1 ||
    fail "gst-launch-1.0 lensbaysrc ! fakesink failed: $(tail -5 "$work/launch.out")"
fi
if [ -n "$python_module" ]; then
  as_fresh_user /usr/bin/python3 -c '
import lensbay
assert lensbay.__file__ == "'"$python_module"'/__init__.py", lensbay.__file__
with lensbay.Camera() as cam:
    cam.set_controls({"exposure": 40})
    frame = cam.capture_array()
print(frame.shape, frame.dtype)' >"$work/python.out" 2>&1 ||
    fail "a fresh account could not capture a frame with the installed Python module: $(cat "$work/python.out")"
  grep -qxF "(288, 384) uint8" "$work/python.out" ||
    fail "the installed Python module read no full frame: $(cat "$work/python.out")"
fi

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

echo "-- purging the package"
$sudo apt-get -o DPkg::Lock::Timeout=600 remove -y --purge lensbay >"$work/remove.log" 2>&1 ||
  { tail -20 "$work/remove.log" >&2; fail "apt-get remove -y --purge lensbay"; }
installed=""
if [ -e "$machine_registry" ] && grep -qi "$clsid" "$machine_registry"; then
  fail "purging left PINBUS.OCX registered in $machine_registry"
fi
[ ! -e /var/lib/lensbay ] || fail "purging left /var/lib/lensbay behind: $(ls -A /var/lib/lensbay)"

echo "-- package test passed"
