# Debian packages the build and the tests need, and a quiet installer that only acts when
# something is missing. Sourced by the run and test scripts.

VARNU_BUILD_PACKAGES=(
    g++ cmake make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    nlohmann-json3-dev libpulse-dev libevdev-dev libudev-dev libsystemd-dev libumockdev-dev
    libfuse3-dev libwayland-dev libxcb1-dev libxcb-shape0-dev
    qt6-base-dev
)
VARNU_TEST_PACKAGES=(
    pulseaudio pulseaudio-utils
    pipewire pipewire-pulse wireplumber
    xvfb xauth umockdev fuse3 dbus-daemon
    openbox trayer x11-xserver-utils xdotool x11-utils imagemagick
    sway xwayland waybar grim qt6-wayland dbus-daemon libglib2.0-bin jq
    gnome-shell gnome-shell-extension-appindicator
)
# dpkg-shlibdeps (dpkg-dev) and file compute the package's library dependencies; the package
# test checks the device service's units with systemd-analyze (systemd) and installs the
# package, whose scripts use adduser, deb-systemd-helper (init-system-helpers) and setfacl (acl).
VARNU_PACKAGE_PACKAGES=(
    dpkg-dev file systemd adduser init-system-helpers acl
)
# The system test boots a Debian virtual machine: QEMU, and mmdebstrap and mkfs.ext4 for its
# image.
VARNU_SYSTEM_PACKAGES=(
    qemu-system-x86 qemu-utils mmdebstrap e2fsprogs
)
# What scripts/bench needs besides the test packages: jq to read Google Benchmark's JSON.
VARNU_BENCH_PACKAGES=(
    jq
)
# The fuzz targets build with clang and link its libFuzzer and sanitizer runtimes.
VARNU_FUZZ_PACKAGES=(
    clang libclang-rt-14-dev
)

varnu_missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            printf '%s\n' "$package"
        fi
    done
}

varnu_ensure_packages() {
    local missing
    mapfile -t missing < <(varnu_missing_packages "$@")
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}. Install them as root (apt-get install)." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null
}

varnu_jobs() {
    local cores
    cores=$(nproc 2>/dev/null || echo 2)
    [ "$cores" -gt 2 ] && cores=2
    echo "$cores"
}
