#!/usr/bin/env bash
# Builds the system test's Debian 12 image, or finds it in the cache: a root file system made by
# mmdebstrap from this machine's apt sources, with systemd, udev, logind, Debian's kernel and the
# package's dependencies, three users (alice and bob log in on tty1 and tty2 by themselves,
# carol never does) and the test's agent on a virtio-serial port. The image is kept under a name
# made from everything that goes into it, so a rerun with the same inputs boots at once.
# Usage: image.sh PACKAGE.deb; prints the folder that holds vmlinuz, initrd.img and rootfs.raw.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$1

# The package's own dependencies and recommendations (the first of each set of alternatives,
# without versions), for apt to install it offline as a user would; what the checks rely on;
# and what the guest's programs link.
mapfile -t depends < <(dpkg-deb --field "$deb" Depends Recommends | sed 's/^[A-Za-z]*: //' |
    tr ',' '\n' |
    sed -e 's/|.*//' -e 's/(.*)//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
packages=(
    systemd-sysv udev dbus dbus-user-session libpam-systemd libnss-systemd kmod acl kbd procps
    linux-image-amd64 libbenchmark1debian "${depends[@]}"
)
# Installed only later, in the guest, to see what their udev rules do beside Varnu's.
others=(ddcutil steam-devices)

key=$( {
    printf '%s\n' "${packages[@]}" -- "${others[@]}"
    cat "$0" "$here"/guest/*
    # A new state of the archive makes a new image.
    cat /var/lib/apt/lists/*_InRelease 2>/dev/null | grep -E '^(Origin|Suite|Date):' || true
} | sha256sum | cut -c1-16)
cache=${VARNU_SYSTEM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varnu-system}
image=$cache/$key
if [ -f "$image/done" ]; then
    echo "$image"
    exit 0
fi
mkdir -p "$cache"
scratch=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

tree=$scratch/tree
guest=$here/guest
include=$(IFS=,; echo "${packages[*]}")
# Each step's output goes to a log that is shown only when the build fails.
if ! mmdebstrap --mode=root --variant=apt --include="$include" \
    --skip=cleanup/apt/lists,cleanup/apt/cache \
    --customize-hook='mkdir -p "$1/var/cache/system-test/partial"' \
    --customize-hook="chroot \"\$1\" apt-get install -y -qq --download-only \
        -o Dir::Cache::Archives=/var/cache/system-test/ ${others[*]}" \
    --customize-hook="copy-in $guest/agent /usr/local/sbin" \
    --customize-hook="copy-in $guest/system-test-agent.service /etc/systemd/system" \
    --customize-hook="copy-in $guest/volume-keys.map /etc" \
    --customize-hook="copy-in $guest/setup /root" \
    --customize-hook='chroot "$1" sh /root/setup && rm "$1/root/setup"' \
    bookworm "$tree" >"$scratch/log" 2>&1; then
    tail -40 "$scratch/log" >&2
    exit 1
fi
cp "$tree"/boot/vmlinuz-* "$scratch/vmlinuz"
cp "$tree"/boot/initrd.img-* "$scratch/initrd.img"
rm -rf "$tree"/boot/*
# Room for the package, the logs and the other packages' files.
mkfs.ext4 -q -L testroot -d "$tree" "$scratch/rootfs.raw" 3G >/dev/null
rm -rf "$tree" "$scratch/log"
touch "$scratch/done"
trap - EXIT
rm -rf "$image"
mv "$scratch" "$image"
# Only the newest image is kept: each takes over a gigabyte.
find "$cache" -mindepth 1 -maxdepth 1 -type d -regextype egrep -regex '.*/[0-9a-f]{16}' \
    ! -path "$image" -exec rm -rf {} +
echo "$image"
