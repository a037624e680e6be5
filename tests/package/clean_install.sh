#!/bin/bash
# The Debian package on a clean Debian 12: a minimal system made with debootstrap, the package
# installed into it by apt (dependencies and recommendations from the archive), then, against
# the program installed there and started by its desktop entry's command, the fault script's
# session (login, calls through kamailio and SIPp, the sound server stopped and started again,
# kill -9 after calls) and the link script's (xdg-open hands a tel: link to the running
# program, which calls it and sends its post-dial digits). The lab's peers run outside; the
# clean system shares /tmp and the loopback with them. Needs root and the Debian archive, and
# takes a few minutes: not part of the test command.
#
#     bash tests/package/clean_install.sh [build folder]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mirror=${ORVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}

command -v debootstrap >/dev/null || apt-get install -y debootstrap
# Not under /tmp, which is mounted into it.
root=$(mktemp -d /var/tmp/orvane-clean-XXXXXX)
launcher=$(mktemp /tmp/orvane-clean-launch-XXXXXX)
cleanup() {
    for m in tmp dev sys proc; do
        umount -R "$root/$m" 2>/dev/null || true
    done
    rm -rf --one-file-system "$root" "$launcher"
}
trap cleanup EXIT

echo "== a minimal Debian 12 in $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"

echo "== the package, installed by apt"
mkdir -p "$root/opt/deb"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/opt/deb" >/dev/null 2>&1
deb=$(cd "$root/opt/deb" && ls orvane-softphone_*.deb)
chroot "$root" apt-get update -qq 2>/dev/null
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/opt/deb/$deb" 2>&1 | tail -1
chroot "$root" orvane-softphone --version
mount --bind /tmp "$root/tmp"

# The desktop entry's command, without its field codes.
entry=$(ls "$root"/usr/share/applications/*.desktop)
command=$(sed -n 's/^Exec=//p' "$entry" | sed 's/ %[a-zA-Z]//g')
echo "== the fault session against '$command' from $(basename "$entry")"
printf '#!/bin/sh\nexec chroot %s %s "$@"\n' "$root" "$command" >"$launcher"
chmod +x "$launcher"
/usr/bin/python3 "$here/../gui/fault_test.py" "$launcher"
echo "== links: xdg-open hands a tel: link to the running program"
/usr/bin/python3 "$here/../gui/link_test.py" "$launcher"
