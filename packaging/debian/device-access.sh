# The devices the rules of this package, and of its earlier versions, cover: uinput and the I2C
# buses of display adapters (under a PCI display controller or a DRM device).
varnu_covered_devices() {
    if [ -c /dev/uinput ]; then
        echo /dev/uinput
    fi
    for bus in /sys/class/i2c-dev/i2c-*; do
        node=/dev/${bus##*/}
        [ -c "$node" ] || continue
        device=$(readlink -f "$bus/device") || continue
        while [ "${device#/sys/}" != "$device" ]; do
            case "$(cat "$device/class" 2>/dev/null)" in 0x03*)
                echo "$node"
                break
                ;;
            esac
            case "$(readlink "$device/subsystem" 2>/dev/null)" in */drm)
                echo "$node"
                break
                ;;
            esac
            device=${device%/*}
        done
    done
}

# Applies the rules as they now stand to those devices, and to no others. One by one: udevadm
# applies nothing when one of several devices has no sysfs device (uinput's static node before
# its module is loaded).
varnu_retrigger_devices() {
    [ -S /run/udev/control ] && command -v udevadm >/dev/null 2>&1 || return 0
    udevadm control --reload-rules || true
    for node in $(varnu_covered_devices); do
        udevadm trigger --action=change "$node" 2>/dev/null || true
    done
    udevadm settle --timeout=10 || true
}

# udev leaves a node's owner and mode as they are when no rule sets them, so the nodes the
# package's group held would keep its number after the group is deleted, and pass to whichever
# group gets that number next. Gives them back to root with the kernel's mode, then lets the
# rules that remain (another package's) set theirs. The ACLs go first: with one in place, chmod
# changes only its mask, and the group's own entry would come back once the ACL goes; udev's
# uaccess gives the seat user theirs again where a rule still tags the device.
varnu_release_devices() {
    group=$1
    gid=$(getent group "$group" | cut -d: -f3)
    [ -n "$gid" ] || return 0
    for node in $(varnu_covered_devices); do
        if [ "$(stat -c %g "$node")" = "$gid" ]; then
            if command -v setfacl >/dev/null 2>&1; then
                setfacl --remove-all "$node" 2>/dev/null || true
            fi
            chown root:root "$node" && chmod 0600 "$node" || true
        fi
    done
    varnu_retrigger_devices
}

# The ACLs an earlier rule's uaccess tag gave the user at the seat outlive the rule until the
# next boot. Takes them back from every covered device no rule tags any more (where one still
# does, logind keeps its ACLs right).
varnu_clear_left_acls() {
    command -v setfacl >/dev/null 2>&1 || return 0
    for node in $(varnu_covered_devices); do
        if [ -S /run/udev/control ] &&
            udevadm info --query=property --name="$node" 2>/dev/null |
            grep -q '^CURRENT_TAGS=.*:uaccess:'; then
            continue
        fi
        setfacl --remove-all "$node" 2>/dev/null || true
    done
}

# The service's user and group must be the ones this package made, or made alike: a local system
# account whose group has no other members. Anyone else's (a person's, a directory service's, a
# group with members) would get the keyboards' copies and the display buses, and is not the
# package's to delete. Prints why, and succeeds, when the account of that name is such a one.
varnu_foreign_account() {
    name=$1
    gid_ok=
    if entry=$(getent group "$name"); then
        gid=$(echo "$entry" | cut -d: -f3)
        members=$(echo "$entry" | cut -d: -f4)
        if ! grep -q "^$name:" /etc/group; then
            echo "the group $name comes from outside /etc/group."
        elif [ "$gid" -lt 100 ] || [ "$gid" -gt 999 ]; then
            echo "the group $name (gid $gid) is not a system group."
        elif [ -n "$members" ]; then
            echo "the group $name has members: $members."
        else
            gid_ok=1
        fi
        [ -n "${gid_ok:-}" ] || return 0
    fi
    if entry=$(getent passwd "$name"); then
        uid=$(echo "$entry" | cut -d: -f3)
        if ! grep -q "^$name:" /etc/passwd; then
            echo "the user $name comes from outside /etc/passwd."
        elif [ "$uid" -lt 100 ] || [ "$uid" -gt 999 ]; then
            echo "the user $name (uid $uid) is not a system user."
        elif [ "$(echo "$entry" | cut -d: -f4)" != "$(getent group "$name" | cut -d: -f3)" ]; then
            echo "the user $name belongs to another group."
        else
            return 1
        fi
        return 0
    fi
    return 1
}
