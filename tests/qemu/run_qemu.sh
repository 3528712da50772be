#!/usr/bin/env bash
# Runs Lensbay's console on a real Linux kernel and a real (emulated) parallel port: boots a PC
# in QEMU from Debian's kernel package and busybox, with this machine's root mounted read-only
# over 9p and a work folder mounted writable at its own path (nothing else of this machine is
# covered: BIN_DIR and the work folder may lie anywhere, /tmp included, and their paths may hold
# any character), and runs build/bin/lensbay --console there with PORTIO=direct and with
# PORTIO=ppdev:/dev/parport0. QEMU logs every cycle that reaches its parallel port at 0x378
# (trace events parallel_ioport_read/write); that device-side log must hold the port trace of
# each run cycle for cycle, and the run must end as it does on a board whose data lines idle high.
#
# Usage: run_qemu.sh BIN_DIR CACHE_DIR TRACE_MATCH
#   BIN_DIR      holds lensbay, regsvr, PINBUS.OCX and bmphead1
#   CACHE_DIR    keeps the kernel package and the guest's initramfs between runs
#   TRACE_MATCH  the comparison program (qemu_trace_match)
# Environment:
#   QEMU_KEEP=1         keep the work folder (its path is printed)
#   QEMU_KERNEL_DEB=F   use this linux-image-*-amd64 package instead of downloading one
#   QEMU_ACCEL=kvm      use KVM (the default is TCG, see below)
#   QEMU_REQUIRED=1     a missing tool or package fails the test instead of skipping it (CI)
#   QEMU_ODD_PATHS=1    make the work folder, and a copy of BIN_DIR's programs and libraries to
#                       run, in a folder under /tmp whose name holds a blank, a comma and a quote
#                       (the CTest does: the guest must neither hide nor misread a host path)
# Exit status: 0 passed, 1 failed, 77 skipped (no QEMU, no busybox-static or no kernel package).
set -uo pipefail

bin="${1:?usage: run_qemu.sh BIN_DIR CACHE_DIR TRACE_MATCH}"
cache="${2:?usage: run_qemu.sh BIN_DIR CACHE_DIR TRACE_MATCH}"
match="${3:?usage: run_qemu.sh BIN_DIR CACHE_DIR TRACE_MATCH}"
# Physical paths: the guest mounts the work folder at its path before it enters this machine's
# root, where a symbolic link on the way would point into the guest's own initramfs.
bin="$(cd "$bin" && pwd -P)" || exit 1
mkdir -p "$cache" && cache="$(cd "$cache" && pwd -P)" || exit 1
case "$match" in */*) match="$(cd "$(dirname "$match")" && pwd -P)/$(basename "$match")" || exit 1 ;; esac
start=$SECONDS
step() { echo "[$((SECONDS - start))s] $*"; }
skip() {
  if [ -n "${QEMU_REQUIRED:-}" ]; then echo "FAIL (QEMU_REQUIRED is set): $*"; exit 1; fi
  echo "SKIP: $*"
  exit 77
}

[ "$(uname -m)" = x86_64 ] || skip "the guest is an x86-64 PC; this machine is $(uname -m)"
for tool in qemu-system-x86_64 cpio dpkg-deb gzip; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (apt-get install qemu-system-x86 cpio)"
done
busybox=""
for b in /bin/busybox /usr/bin/busybox; do
  if [ -x "$b" ] && ! "$b" ldd "$b" >/dev/null 2>&1 && file -L "$b" 2>/dev/null | grep -q 'statically linked'; then
    busybox="$b"
    break
  fi
done
[ -n "$busybox" ] || skip "no statically linked busybox (apt-get install busybox-static)"
for f in lensbay regsvr PINBUS.OCX bmphead1; do
  [ -e "$bin/$f" ] || { echo "FAIL: $bin/$f is missing (build it first)"; exit 1; }
done

# --- the kernel: Debian's current linux-image-*-amd64, fetched once into the cache
deb="${QEMU_KERNEL_DEB:-}"
if [ -z "$deb" ]; then
  deb="$(find "$cache" -maxdepth 1 -name 'linux-image-*-amd64_*.deb' | sort | tail -1)"
fi
if [ -z "$deb" ]; then
  command -v apt-get >/dev/null || skip "no kernel package in $cache and no apt-get to fetch one"
  pkg="$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -1)"
  [ -n "$pkg" ] || skip "apt cannot name the kernel package behind linux-image-amd64 (apt-get update?)"
  step "fetching $pkg"
  (cd "$cache" && apt-get download "$pkg" >"$cache/download.log" 2>&1) ||
    skip "apt-get download $pkg failed: $(tail -1 "$cache/download.log")"
  deb="$(find "$cache" -maxdepth 1 -name 'linux-image-*-amd64_*.deb' | sort | tail -1)"
  [ -n "$deb" ] || skip "apt-get download $pkg left no package in $cache"
fi
kernel_dir="$cache/$(basename "$deb" .deb)"
modules=(parport parport_pc ppdev virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev
         virtio_pci 9pnet 9pnet_virtio netfs fscache 9p)
init_text="$(cat <<'INIT'
#!/bin/busybox sh
# The guest's first process: loads the port and 9p drivers, mounts this machine's root read-only
# and the work folder over its own path there (the path is read from the folder's host-path
# file), gives the guest its scratch space inside the work folder, runs the work folder's
# guest.sh in the host root, and powers off. Nothing but the work folder and the kernel's own
# /proc, /sys and /dev covers a folder of the host.
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /host /work
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
for m in $(cat /modules.txt); do
  args=""
  [ "$m" = parport_pc ] && args="io=0x378 irq=none"
  insmod "/lib/modules/$m.ko" $args || echo "GUEST: insmod $m failed"
done
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 work /work &&
   W="$(cat /work/host-path)" && [ -n "$W" ] &&
   mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288,ro host /host &&
   mount -o bind /work "/host$W" && mount -t tmpfs -o mode=0700 tmpfs "/host$W/tmp" &&
   mount -t proc proc /host/proc && mount -t sysfs sysfs /host/sys &&
   mount -t devtmpfs devtmpfs /host/dev; then
  chroot /host /bin/sh "$W/guest.sh" >/work/guest.log 2>&1
  echo "GUEST: guest.sh ended with status $?"
  sync
else
  echo "GUEST: mounting the host's root or the work folder failed"
fi
poweroff -f
INIT
)"
if [ ! -s "$kernel_dir/initrd.gz" ] || [ "$(cat "$kernel_dir/init" 2>/dev/null)" != "$init_text" ]; then
  step "building the guest from $(basename "$deb")"
  rm -rf "$kernel_dir.new"
  mkdir -p "$kernel_dir.new/pkg" "$kernel_dir.new/root/bin" "$kernel_dir.new/root/lib/modules" || exit 1
  dpkg-deb -x "$deb" "$kernel_dir.new/pkg" || { echo "FAIL: cannot unpack $deb"; exit 1; }
  vmlinuz="$(find "$kernel_dir.new/pkg/boot" -name 'vmlinuz-*' | head -1)"
  [ -n "$vmlinuz" ] || { echo "FAIL: $deb holds no /boot/vmlinuz-*"; exit 1; }
  cp "$vmlinuz" "$kernel_dir.new/vmlinuz" || exit 1
  for m in "${modules[@]}"; do
    ko="$(find "$kernel_dir.new/pkg/lib/modules" -name "$m.ko*" | head -1)"
    [ -n "$ko" ] || { echo "FAIL: $deb has no module $m"; exit 1; }
    case "$ko" in
      *.ko.xz) "$busybox" xzcat "$ko" >"$kernel_dir.new/root/lib/modules/$m.ko" || exit 1 ;;
      *.ko.zst) zstd -qdc "$ko" >"$kernel_dir.new/root/lib/modules/$m.ko" || exit 1 ;;
      *) cp "$ko" "$kernel_dir.new/root/lib/modules/$m.ko" || exit 1 ;;
    esac
  done
  printf '%s\n' "${modules[@]}" >"$kernel_dir.new/root/modules.txt"
  cp "$busybox" "$kernel_dir.new/root/bin/busybox" || exit 1
  printf '%s\n' "$init_text" >"$kernel_dir.new/root/init"
  chmod +x "$kernel_dir.new/root/init"
  (cd "$kernel_dir.new/root" && find . | cpio -o -H newc --quiet | gzip -1 >../initrd.gz) || exit 1
  printf '%s\n' "$init_text" >"$kernel_dir.new/init"
  rm -rf "$kernel_dir.new/pkg" "$kernel_dir.new/root" "$kernel_dir"
  mv "$kernel_dir.new" "$kernel_dir" || exit 1
fi

# --- the work folder, shared writable with the guest
# QEMU_ODD_PATHS: the work folder and the programs go into a folder under /tmp.
if [ -n "${QEMU_ODD_PATHS:-}" ]; then
  top="$(mktemp -d "/tmp/lensbay qemu, it's.XXXXXX")" || { echo "FAIL: cannot make a folder in /tmp"; exit 1; }
else
  top="$(mktemp -d "$cache/run.XXXXXX")" || exit 1
fi
qemu_pid=""
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  # TERM reaches QEMU through timeout; KILL would stop only timeout itself.
  if [ -n "$qemu_pid" ]; then kill -TERM "$qemu_pid" 2>/dev/null; wait "$qemu_pid" 2>/dev/null; fi
  if [ -n "${QEMU_KEEP:-}" ]; then echo "kept $top"; else rm -rf "$top"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
top="$(cd "$top" && pwd -P)" || exit 1
work="$top"
if [ -n "${QEMU_ODD_PATHS:-}" ]; then
  work="$top/run"
  mkdir "$work" "$top/bin" || exit 1
  # The programs run from there, their libraries beside them ($ORIGIN comes first in their
  # search path). Hard links where the file system allows, copies elsewhere.
  for f in lensbay regsvr PINBUS.OCX bmphead1 $(cd "$bin" && find . -maxdepth 1 -name '*.so'); do
    f="$(basename "$f")"
    ln "$bin/$f" "$top/bin/$f" 2>/dev/null || cp -p "$bin/$f" "$top/bin/$f" ||
      { echo "FAIL: cannot copy $bin/$f to $top/bin"; exit 1; }
  done
  bin="$top/bin"
fi
# The guest reads the work folder's path here, not from the kernel's command line (which splits
# at blanks); its scratch space (TMPDIR, XDG_RUNTIME_DIR) is a tmpfs over the folder's tmp.
printf '%s' "$work" >"$work/host-path" && mkdir "$work/tmp" || exit 1
echo "work folder: $work"
# shq STRING: STRING quoted for sh
shq() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# Set two registers, put everything back with Default Setting, then capture a window of 3 x 3
# blocks (72 x 54 pixels).
cat >"$work/session.txt" <<'SESSION'
enter Text1 80
enter Text2 2
press Command1
press Command2
enter Text4 4
enter Text5 6
enter Text6 4
enter Text7 6
press Command1
press Capture
quit
SESSION
backends=(direct ppdev)
cat >"$work/guest.sh" <<GUEST
#!/bin/sh
# Runs in the guest, chrooted into this machine's root.
W=$(shq "$work")
B=$(shq "$bin")
echo "guest.sh started at \$(cut -d' ' -f1 /proc/uptime) s of guest time" >"\$W/times"
export HOME="\$W" OLE_REGISTRY="\$W/registry.reg" QT_QPA_PLATFORM=offscreen
export TMPDIR="\$W/tmp" XDG_RUNTIME_DIR="\$W/tmp"
# The host's root is read-only here: the port locks live in the guest's scratch space.
mkdir -p "\$W/tmp/lock" && export LENSBAY_LOCK_DIR="\$W/tmp/lock"
"\$B/regsvr" "\$B/PINBUS.OCX" >"\$W/regsvr.out" 2>&1 || { cat "\$W/regsvr.out"; exit 1; }
for backend in ${backends[*]}; do
  case \$backend in
    direct) portio=direct ;;
    ppdev) portio=ppdev:/dev/parport0 ;;
  esac
  mkdir -p "\$W/\$backend" && cd "\$W/\$backend" || exit 1
  PORTIO=\$portio PORTIO_TRACE="\$W/\$backend/trace" timeout 120 "\$B/lensbay" --console \\
    <"\$W/session.txt" >"\$W/\$backend/out" 2>"\$W/\$backend/err"
  echo \$? >"\$W/\$backend/status"
  echo "\$backend run ended at \$(cut -d' ' -f1 /proc/uptime) s" >>"\$W/times"
done
# Both ways to the port took one lock, named after the base address the driver gives.
ls "\$W/tmp/lock" >"\$W/locks"
GUEST

# TCG by default: a /dev/kvm that opens is no proof that KVM runs a guest (nested setups hang
# or abort), and the test must end the same way everywhere. QEMU_ACCEL=kvm opts in.
accel="${QEMU_ACCEL:-tcg}"
step "booting the guest (accel $accel)"
# QEMU runs in the work folder and names its logs there relatively: -D reads a % in its path as
# a pattern. In -virtfs a comma ends the value unless doubled.
(cd "$work" && exec timeout "${QEMU_TIMEOUT:-360}" qemu-system-x86_64 -nodefaults -no-user-config \
  -machine pc -accel "$accel" -m 512 -smp 1 \
  -display none -serial file:console.log -no-reboot \
  -kernel "$kernel_dir/vmlinuz" -initrd "$kernel_dir/initrd.gz" \
  -append "console=ttyS0 panic=-1 ${QEMU_QUIET-quiet}" \
  -chardev null,id=board -device isa-parallel,chardev=board,iobase=0x378,irq=7 \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=${work//,/,,},mount_tag=work,security_model=none,multidevs=remap" \
  -d trace:parallel_ioport_read,trace:parallel_ioport_write -D device.log) &
qemu_pid=$!
wait "$qemu_pid"
qemu_status=$?
qemu_pid=""
step "the guest powered off (QEMU status $qemu_status)"
cat "$work/times" 2>/dev/null

fail=0
failed() { echo "FAIL: $*"; fail=1; }
[ "$qemu_status" -eq 0 ] || failed "QEMU ended with status $qemu_status (124: it ran out of time)"
if [ ! -s "$work/regsvr.out" ] || ! grep -q succeeded "$work/regsvr.out"; then
  failed "regsvr in the guest did not register PINBUS.OCX"
  tail -20 "$work/console.log"
  cat "$work/guest.log" "$work/regsvr.out" 2>/dev/null
fi

expected_events="$(printf '%s\n' \
  $'box\tOperation Notice\tPlease select VPORT register A[3:0]=1000' \
  $'box\tSX540 Control Panel\tPlease select EXCTL register A[3:0]=0010' \
  $'box\tSX540 Control Panel\tPlease select GCTL register A[3:0]=0011' \
  $'box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000' \
  $'box\tSX540 Control Panel\tPlease select FCTL register A[3:0]=0001' \
  $'box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000' \
  $'box\tSX540 Control Panel\tPlease select HWCTL register A[3:0]=0110' \
  $'box\tSX540 Control Panel\tPlease select VWCTL register A[3:0]=0111' \
  $'box\tSX540 Control Panel\tPlease VPORT register A[3:0]=1000' \
  $'monitor\t768\t576\tpicture')"

# bytes FILE OFFSET COUNT: the bytes as hex, one a line
bytes() { od -v -An -tx1 -j "$2" -N "$3" "$1" | tr -s ' ' '\n' | sed '/^$/d'; }
le32() { bytes "$1" "$2" 4 | tac | tr -d '\n' | sed 's/^/0x/'; }

traces=()
for backend in "${backends[@]}"; do
  d="$work/$backend"
  status="$(cat "$d/status" 2>/dev/null)"
  [ "$status" = 0 ] || { failed "$backend: lensbay ended with status ${status:-none}"; cat "$d/err" 2>/dev/null; }
  if [ "$(cat "$d/out" 2>/dev/null)" != "$expected_events" ]; then
    failed "$backend: the console's events differ from what the session must show"
    diff <(echo "$expected_events") "$d/out"
  fi
  [ ! -s "$d/err" ] || { failed "$backend: lensbay wrote to standard error"; cat "$d/err"; }
  # The board's data lines idle high: every pixel byte read is 0xff. image.raw holds the
  # bytes read and one byte more (0); image.bmp's pixel area, 48 x 36, holds the pixels.
  if [ -s "$d/image.raw" ]; then
    size=$(stat -c %s "$d/image.raw")
    other="$(bytes "$d/image.raw" 0 $((size - 1)) | grep -vc '^ff$')"
    [ "$other" = 0 ] || failed "$backend: image.raw holds $other bytes that are not the idle lines' 0xff"
  else
    failed "$backend: no image.raw"
  fi
  if [ -s "$d/image.bmp" ]; then
    offset=$(($(le32 "$d/image.bmp" 10))); width=$(($(le32 "$d/image.bmp" 18)))
    height=$(($(le32 "$d/image.bmp" 22)))
    if [ "$width" != 48 ] || [ "$height" != 36 ]; then
      failed "$backend: image.bmp is ${width}x$height, not 48x36"
    fi
    other="$(bytes "$d/image.bmp" "$offset" $((width * height)) | grep -vc '^ff$')"
    [ "$other" = 0 ] || failed "$backend: image.bmp holds $other pixels that are not 0xff"
  else
    failed "$backend: no image.bmp"
  fi
  traces+=("$backend=$d/trace")
done

# One lock, and beside it one record of what was written to the board, for both backends.
if [ "$(tr '\n' ' ' <"$work/locks" 2>/dev/null)" != "lensbay-port-0x378 lensbay-port-0x378.registers " ]; then
  failed "the port's lock and record are not lensbay-port-0x378(.registers) for both backends: $(tr '\n' ' ' <"$work/locks" 2>/dev/null)"
fi

step "holding the device log against the port traces"
"$match" "$work/device.log" "${traces[@]}" || failed "the device log and the port trace differ"
# The comparison must be able to fail: one changed value in a copy of the last trace.
if [ -s "$work/${backends[-1]}/trace" ]; then
  awk '!done && /^out8 0x0378 / { $3 = ($3 == "0x00") ? "0x01" : "0x00"; done = 1 } { print }' \
    "$work/${backends[-1]}/trace" >"$work/doctored.trace"
  "$match" "$work/device.log" "${traces[@]:0:${#traces[@]}-1}" "doctored=$work/doctored.trace" >/dev/null &&
    failed "the comparison accepted a trace with a changed data byte"
fi
step "done"
if [ "$fail" -ne 0 ]; then
  echo "--- guest console (last lines):"
  tail -15 "$work/console.log"
  exit 1
fi
echo "PASS: both backends' traces match the device, cycle for cycle"
exit 0
