#!/bin/sh
# The guest screen PC's disk: a Debian 12 minbase root made with debootstrap from the Debian
# archive this machine's apt already uses, holding the display package's run-time dependencies (so
# the package itself installs offline inside the guest), booted with this machine's own kernel.
#   guest-image.sh CACHE-DIR PACKAGE.deb
# Leaves CACHE-DIR/disk.img (ext4, no partition table), vmlinuz and initrd.img. The image is kept
# and used again while this script, the kernel and the package's dependencies stay the same
# (CACHE-DIR/key says which); otherwise it is made afresh, which takes a few minutes. Needs root,
# debootstrap, e2fsprogs and linux-image-amd64.
set -eu
cache=$1
deb=$(realpath "$2")
mkdir -p "$cache"
cache=$(realpath "$cache")
# One builder at a time; a second run waits and then finds the image made.
exec 9>"$cache/lock"
flock 9
kver=$(ls /lib/modules | sort -V | tail -n 1)
[ -f "/boot/vmlinuz-$kver" ] || { echo "no /boot/vmlinuz-$kver (package linux-image-amd64)" >&2; exit 1; }

# What the package needs at run time, without the version constraints: installed in the image, so
# that `apt install ./plasma-display_*.deb` in the guest needs no network.
needs=$(for field in Depends Recommends; do dpkg-deb -f "$deb" "$field"; done |
  sed 's/([^)]*)//g; s/|[^,]*//g' | tr ',' '\n' | tr -d ' ' | grep -v '^$' | sort -u | tr '\n' ' ')
key=$({ cat "$0"; echo "$kver $needs"; } | sha256sum | cut -c1-16)
if [ -f "$cache/key" ] && [ "$(cat "$cache/key")" = "$key" ] && [ -f "$cache/disk.img" ]; then
  echo "guest image: cached ($cache, key $key)"
  exit 0
fi
echo "guest image: building ($cache, key $key; needs: $needs)"

# The main Debian archive of this machine's apt sources (one-line or deb822 form).
mirror=${MIRROR:-$(grep -rhE '^(deb |URIs:)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
  /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -oE 'https?://[^ ]*/debian/?( |$)' | head -n 1 | tr -d ' ')}
[ -n "$mirror" ] || { echo "no Debian archive in this machine's apt sources" >&2; exit 1; }

work=$cache/build.$$
root=$work/root
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$cache"/build.*
mkdir -p "$work"

debootstrap --variant=minbase \
  --include=systemd,systemd-sysv,udev,kmod,procps,systemd-coredump \
  bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }

# The archive may be a dated snapshot whose Release files have expired.
printf 'Acquire::Check-Valid-Until "false";\nAcquire::Check-Date "false";\n' >"$root/etc/apt/apt.conf.d/90dated-archive"
mount -t proc proc "$root/proc"
# shellcheck disable=SC2086  # one word per package
{ chroot "$root" apt-get update -qq && DEBIAN_FRONTEND=noninteractive chroot "$root" \
  apt-get install -y -qq --no-install-recommends $needs && chroot "$root" apt-get clean; } >"$work/apt.log" 2>&1 ||
  { tail -n 20 "$work/apt.log" >&2; exit 1; }
umount "$root/proc"

# The kernel's modules (virtio-gpu, bochs, 9p, virtio-net), from the same kernel QEMU boots.
rm -rf "$root/lib/modules"
mkdir -p "$root/lib/modules"
cp -a "/lib/modules/$kver" "$root/lib/modules/"

echo screen-pc >"$root/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 screen-pc\n' >"$root/etc/hosts"
chroot "$root" passwd -d root >/dev/null
# The exchange folder with the host (the package in, logs out) over 9p.
mkdir -p "$root/share"
cat >"$root/etc/fstab" <<'FSTAB'
/dev/vda / ext4 rw,errors=remount-ro 0 1
share /share 9p trans=virtio,version=9p2000.L,msize=262144,nofail,x-systemd.device-timeout=5 0 0
FSTAB
# The test's shell: root on the serial line. tty1, the monitor's console, keeps its ordinary login
# prompt, which the display must keep off the monitor.
mkdir -p "$root/etc/systemd/system/serial-getty@ttyS0.service.d"
cat >"$root/etc/systemd/system/serial-getty@ttyS0.service.d/autologin.conf" <<'UNIT'
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin root --keep-baud 115200,57600,38400,9600 %I $TERM
UNIT
mkdir -p "$root/etc/systemd/network"
printf '[Match]\nName=en* eth*\n[Network]\nDHCP=ipv4\n' >"$root/etc/systemd/network/20-wired.network"
chroot "$root" systemctl enable -q systemd-networkd.service
# Nothing runs by itself that would steal the slow guest's time or reach for the network.
chroot "$root" systemctl mask -q apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer \
  e2scrub_reap.service fstrim.timer systemd-networkd-wait-online.service 2>/dev/null || true
# A crash leaves its core dump as a file, listed by coredumpctl.
mkdir -p "$root/etc/systemd/coredump.conf.d"
printf '[Coredump]\nStorage=external\nProcessSizeMax=2G\nExternalSizeMax=2G\n' \
  >"$root/etc/systemd/coredump.conf.d/keep.conf"

rm -f "$work/disk.img"
truncate -s 3G "$work/disk.img"
mkfs.ext4 -q -F -L screen-pc -d "$root" "$work/disk.img"
cp "/boot/vmlinuz-$kver" "$work/vmlinuz"
cp "/boot/initrd.img-$kver" "$work/initrd.img"
mv "$work/disk.img" "$work/vmlinuz" "$work/initrd.img" "$cache/"
echo "$key" >"$cache/key"
echo "guest image: made in $cache ($(du -h --apparent-size "$cache/disk.img" | cut -f1) sparse, $(du -h "$cache/disk.img" | cut -f1) used)"
