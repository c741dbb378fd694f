#!/usr/bin/env bash
# The package on a real system: boots a Debian 12 virtual machine (systemd, udev, logind, Debian's
# kernel, alice logged in on tty1 and bob on tty2), installs the package built by
# scripts/package with apt as a user would, and checks what it promises, typing on the guest's
# emulated keyboard through QEMU's monitor: the devices' owners right after the install, the
# keyboards held for the seat user's Varnu and typing through the copies, the volume keys kept
# or passed, other users, a stopped or killed Varnu or service, an upgrade, a hot-plugged USB
# keyboard, reboots, other packages' rules beside Varnu's, and a purge that leaves nothing. Then
# measures the service's keys on the guest's kernel. Needs root, QEMU and mmdebstrap; says why
# it skips where it cannot run.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/system
source scripts/packages.sh
source $here/vm.sh

if [ "$(id -u)" -ne 0 ]; then
    echo "The system test builds its image as root: skipped"
    exit 0
fi
varnu_ensure_packages "${VARNU_SYSTEM_PACKAGES[@]}"
if ! command -v qemu-system-x86_64 >/dev/null || [ "$(uname -m)" != x86_64 ]; then
    echo "QEMU for x86-64 cannot run on this machine: the system test is skipped"
    exit 0
fi

# The package scripts/test-package built, unless another is named.
deb=${VARNU_SYSTEM_DEB:-$(ls build/package/varnu_*.deb 2>/dev/null | head -n 1 || true)}
if [ -z "$deb" ]; then
    deb=$(VARNU_WERROR=ON scripts/package | tail -n 1)
fi
echo "== system: $deb"

# The guest's own programs: the test's client of the service and the benchmarks.
build=build/system
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DVARNU_QT=OFF -DVARNU_BENCHMARKS=ON \
    -DVARNU_WERROR=ON >/dev/null
cmake --build $build -j"$(varnu_jobs)" --target varnu-system-client varnu_system_benchmarks \
    >/dev/null

started=$SECONDS
image=$($here/image.sh "$deb")
echo "image: $image ($((SECONDS - started)) s)"
if ! vm_accel=$(vm_accelerator "$image/vmlinuz"); then
    echo "QEMU has neither KVM nor TCG here: the system test is skipped"
    exit 0
fi

vm_dir=$(mktemp -d)
share=$vm_dir/share
mkdir -m 0755 "$share"
cp "$deb" "$share/varnu.deb"
cp $build/tests/system/varnu-system-client $build/bench/varnu_system_benchmarks \
    $here/in-guest.sh $here/start-varnu "$share/"
chmod -R a+rX "$share"
cleanup() {
    vm_stop
    if [ -n "${VARNU_SYSTEM_KEEP:-}" ]; then
        echo "kept: $vm_dir"
    else
        rm -rf "$vm_dir"
    fi
}
trap cleanup EXIT

passed=0
failed=0
# check NAME COMMAND...: one check, its output shown when it fails.
check() {
    local name=$1 output
    shift
    if output=$("$@" 2>&1); then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        printf '%s\n' "$output" | sed 's/^/     /'
    fi
}
guest() {
    vm_run ". /mnt/share/in-guest.sh
$1"
}
# Up once alice is logged in and the display adapter's driver has its connectors.
boot_wait() {
    vm_wait_ready 600 && guest '
until_true 180 sh -c "loginctl show-user alice -p State 2>/dev/null | grep -q active" &&
    until_true 180 test -e /sys/class/drm/card0-DVI-I-1 || fail "$(loginctl; ls /sys/class/drm)"
udevadm settle'
}
# The agent may or may not answer before it is stopped; the greeting after the boot tells.
reboot() {
    vm_send "systemctl reboot"
    boot_wait
}

source $here/checks.sh

started=$SECONDS
echo "QEMU with $vm_accel"
vm_start "$image" "$share"
boot_wait
echo "booted ($((SECONDS - started)) s)"
run_checks
echo "system checks: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
