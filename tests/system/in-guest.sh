# Helpers for the checks' scripts in the guest (sourced there from the share, as root).
set -uo pipefail
share=/mnt/share
keyboard="AT Translated Set 2 keyboard"
usb_keyboard="QEMU QEMU USB Keyboard"

fail() {
    echo "$*"
    exit 1
}
# A check that tells every fault it finds, then fails.
problems=0
problem() {
    echo "$*"
    problems=1
}

# as USER COMMAND...: runs the command as that user, in the environment of their session.
as() {
    local user=$1 uid
    shift
    uid=$(id -u "$user")
    setpriv --reuid="$uid" --regid="$(id -g "$user")" --init-groups env -i HOME="/home/$user" \
        USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="/run/user/$uid" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$uid/bus" "$@"
}

# until SECONDS COMMAND...: whether the command succeeds within that many seconds.
until_true() {
    local deadline=$((SECONDS + $1))
    shift
    while ! "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# The event nodes of the input devices of that name: real ones (not a uinput copy), or copies.
nodes_of() {
    local name=$1 kind=$2 device
    for device in /sys/class/input/event*; do
        [ "$(cat "$device/device/name" 2>/dev/null)" = "$name" ] || continue
        case "$(readlink -f "$device")" in
        /sys/devices/virtual/*) [ "$kind" = copy ] && echo "/dev/input/${device##*/}" ;;
        *) [ "$kind" = real ] && echo "/dev/input/${device##*/}" ;;
        esac
    done
}
copies() { nodes_of "$1" copy | wc -l; }
# The keyboard is held: a copy of it exists and its own node is grabbed.
held() {
    local node
    [ "$(copies "$1")" -ge 1 ] || return 1
    for node in $(nodes_of "$1" real); do
        $share/varnu-system-client held "$node" || return 1
    done
}
free() { [ "$(copies "$1")" -eq 0 ]; }

# The I2C buses of the display adapter (the radeon card's DDC lines).
display_buses() {
    local bus device
    for bus in /sys/class/i2c-dev/i2c-*; do
        device=$(readlink -f "$bus/device")
        while [ "${device#/sys/devices/}" != "$device" ]; do
            case "$(cat "$device/class" 2>/dev/null)" in 0x03*)
                echo "/dev/${bus##*/}"
                break
                ;;
            esac
            device=${device%/*}
        done
    done
}
node_state() { stat -c '%U:%G %a' "$1"; }

# The volume keys type a letter each on the consoles. The agent loads this map at boot, but
# agetty's hangup of tty1 may make that fail, so it is loaded again before they are typed.
map_volume_keys() {
    until_true 10 sh -c "loadkeys -C /dev/tty1 /etc/volume-keys.map >/tmp/loadkeys.log 2>&1" ||
        fail "loadkeys: $(cat /tmp/loadkeys.log)"
    dumpkeys -C /dev/tty1 2>/dev/null | grep -q "^string F72 = \"U\"" ||
        fail "the volume keys' map is not loaded"
}

# The last line a user's shell took.
last_line() { tail -n 1 "/home/$1/.bash_history" 2>/dev/null; }

# start_client USER KEY...: the test's own client for that user, keeping those keys.
start_client() {
    local user=$1
    shift
    as "$user" setsid -f $share/varnu-system-client serve "$@" >"/tmp/client-$user.log" 2>&1 </dev/null
    until_true 10 grep -q "^welcome\|^refused" "/tmp/client-$user.log"
}
stop_client() {
    local pid
    for pid in $(pgrep -u "$1" -x varnu-system-cl); do kill "$pid"; done
    until_true 5 sh -c "! pgrep -u $1 -x varnu-system-cl >/dev/null"
}
varnu_pid() { pgrep -u "$1" -x varnu; }
