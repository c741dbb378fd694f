# The system test's checks, sourced by run.sh: functions that type on the guest's keyboard
# (vm_type, vm_key) and run scripts in the guest (guest), each failing with what it saw.

# Right after the install, in the session that was there before it.
installed_and_set_up() {
    guest '
systemctl is-enabled --quiet varnu-devices.socket || problem "the socket is not enabled"
systemctl is-active --quiet varnu-devices.socket || problem "the socket is not listening"
[ -S /run/varnu/devices.socket ] || problem "no /run/varnu/devices.socket"
for module in i2c_dev uinput; do
    [ -d /sys/module/$module ] || problem "$module is not loaded"
done
buses=$(display_buses)
[ -n "$buses" ] || problem "the display adapter has no I2C bus"
for node in /dev/uinput $buses; do
    [ "$(node_state $node)" = "root:varnu-devices 660" ] || problem "$node is $(node_state $node)"
    getfacl -cp $node | grep -q "^user:alice:" && problem "alice has an ACL on $node"
done
id -nG alice | grep -qw input && problem "alice is in the input group"
exit $problems'
}

# Varnu started from alice's shell, by what she types.
varnu_holds_keyboards() {
    vm_type $'sh /mnt/share/start-varnu\n'
    guest "until_true 30 held \"\$keyboard\" || fail \"the keyboard is not held: \$(copies \"\$keyboard\") copies; \$(cat /tmp/varnu-alice.log)\""
}

seat_user_cannot_open_devices() {
    guest '
for node in /dev/input/event* /dev/uinput $(display_buses); do
    error=$(as alice sh -c "exec 3<>$node" 2>&1) && fail "alice opened $node"
    echo "$error" | grep -q "Permission denied" || fail "$node: $error"
done
true'
}

# typed LINE EXPECTED: types LINE (with volume keys as {up} {down} {mute}) and sees EXPECTED
# come to alice's shell.
typed() {
    local text=$1 part
    case "$text" in *\{*) guest map_volume_keys || return 1 ;; esac
    while [ -n "$text" ]; do
        part=${text%%\{*}
        vm_type "$part"
        text=${text#"$part"}
        case "$text" in
        \{up\}*) vm_key volumeup ;;
        \{down\}*) vm_key volumedown ;;
        \{mute\}*) vm_key audiomute ;;
        esac
        text=${text#\{*\}}
    done
    vm_key ret
    guest "until_true 10 sh -c '[ \"\$(tail -n 1 /home/${user:-alice}/.bash_history)\" = \"$2\" ]' ||
        fail \"the shell took: \$(last_line ${user:-alice})\""
}

typing_reaches_the_shell() {
    typed "echo typed through the copy" "echo typed through the copy"
}

# Varnu answers "pass" (no monitor here): each key comes to the shell, between the letters.
volume_keys_passed_by_varnu() {
    typed "echo a{up}b{down}c{mute}d" "echo aUbDcMd"
}

# The test's client keeps up and mute and passes down.
kept_and_passed_keys() {
    guest 'kill $(varnu_pid alice); until_true 5 free "$keyboard" || fail "still held without Varnu"
start_client alice up mute && until_true 10 held "$keyboard" || fail "not held for the client"' &&
        typed "echo e{up}f{down}g{mute}h" "echo efDgh" &&
        guest '
grep -q "^asked up kept" /tmp/client-alice.log &&
    grep -q "^asked down passed" /tmp/client-alice.log &&
    grep -q "^asked mute kept" /tmp/client-alice.log || fail "$(cat /tmp/client-alice.log)"'
}

# carol has no session at the seat: refused, asked nothing, while alice's client is asked.
other_user_refused() {
    guest 'start_client carol; grep -qx "refused 1" /tmp/client-carol.log ||
        fail "carol: $(cat /tmp/client-carol.log)"' &&
        typed "echo i{up}j" "echo ij" &&
        guest '! grep -q asked /tmp/client-carol.log || fail "carol was asked"
stop_client carol'
}

# With both clients connected, a switch to bob's VT serves bob's, and back.
vt_switch_moves_the_hold() {
    guest 'start_client bob
grep -qx "standing 2" /tmp/client-bob.log || fail "bob: $(cat /tmp/client-bob.log)"
chvt 2
until_true 10 sh -c "tail -n 1 /tmp/client-bob.log | grep -qx \"standing 1\"" ||
    fail "bob is not served after the switch: $(cat /tmp/client-bob.log)"
until_true 10 held "$keyboard" || fail "not held for bob"' &&
        user=bob typed "echo k{up}l" "echo kUl" &&
        guest 'grep -q "^asked up passed" /tmp/client-bob.log || fail "bob was not asked"
grep -c "^asked" /tmp/client-alice.log >/tmp/alice-asked
chvt 1
until_true 10 sh -c "tail -n 1 /tmp/client-alice.log | grep -qx \"standing 1\"" ||
    fail "alice is not served again: $(cat /tmp/client-alice.log)"
stop_client bob' &&
        typed "echo m{up}n" "echo mn"
}

# Back to Varnu for what follows, with alice in front even where the switch above failed.
varnu_again() {
    guest 'chvt 1; stop_client bob; stop_client alice; until_true 5 free "$keyboard"' &&
        varnu_holds_keyboards
}

varnu_killed() {
    guest 'kill -KILL $(varnu_pid alice); until_true 5 free "$keyboard" || fail "held after the kill"' &&
        typed "echo after the kill" "echo after the kill" && varnu_holds_keyboards
}

# A stopped Varnu is asked, the key goes on after the wait, the keyboards are let go; taken
# back once it answers again.
varnu_stopped() {
    guest 'kill -STOP $(varnu_pid alice)' &&
        typed "echo o{up}p" "echo oUp" &&
        guest 'until_true 5 free "$keyboard" || fail "still held while Varnu is stopped"' &&
        typed "echo while stopped" "echo while stopped" &&
        guest 'kill -CONT $(varnu_pid alice)
until_true 15 held "$keyboard" || fail "not held again after SIGCONT"'
}

service_stopped() {
    guest 'systemctl stop varnu-devices.service
until_true 15 held "$keyboard" || fail "not held again after the service was stopped"' &&
        typed "echo service stopped" "echo service stopped"
}

service_killed() {
    guest 'systemctl kill -s KILL varnu-devices.service
until_true 15 held "$keyboard" || fail "not held again after the service was killed"' &&
        typed "echo service killed" "echo service killed"
}

upgraded_while_held() {
    guest 'before=$(systemctl show -p MainPID --value varnu-devices.service)
dpkg -i $share/varnu.deb >/tmp/upgrade.log 2>&1 || fail "$(cat /tmp/upgrade.log)"
until_true 15 held "$keyboard" || fail "not held again after the upgrade"
after=$(systemctl show -p MainPID --value varnu-devices.service)
[ "$after" != "$before" ] || fail "the service was not restarted ($before)"' &&
        typed "echo upgraded" "echo upgraded"
}

usb_keyboard_plugged() {
    vm_monitor "device_add usb-kbd,bus=xhci.0,id=usbkbd"
    guest 'until_true 20 held "$usb_keyboard" || fail "the USB keyboard is not held"' &&
        vm_monitor "device_del usbkbd" &&
        guest 'until_true 20 sh -c "[ -z \"$(nodes_of "$usb_keyboard" real)\" ]" &&
until_true 10 free "$usb_keyboard" || fail "the USB keyboard'"'"'s copy outlived it"
held "$keyboard" || fail "the other keyboard was let go"'
}

healthy_after_boot() {
    guest '
failed=$(systemctl --failed --plain --no-legend)
[ -z "$failed" ] || fail "failed units: $failed"
systemctl is-active --quiet varnu-devices.socket || fail "the socket is not listening"
for node in /dev/uinput $(display_buses); do
    [ "$(node_state $node)" = "root:varnu-devices 660" ] || fail "$node is $(node_state $node)"
done
denials=$(journalctl -b --no-pager -o cat | grep -iE "varnu.*(denied|not permitted|SIGSYS|seccomp)|audit.*varnu")
[ -z "$denials" ] || fail "$denials"'
}

purged() {
    guest 'apt-get purge -y -qq varnu >/tmp/purge.log 2>&1 || fail "$(cat /tmp/purge.log)"' &&
        nothing_left
}

nothing_left() {
    guest '
getent passwd varnu-devices && problem "the user is left"
getent group varnu-devices && problem "the group is left"
for node in /dev/uinput $(display_buses); do
    [ "$(node_state $node)" = "root:root 600" ] || problem "$node is $(node_state $node)"
    getfacl -cp $node | grep "^user:[^:]" && problem "an ACL is left on $node"
done
# A Varnu still running keeps its own socket in the user'"'"'s runtime folder, as any program would.
left=$(find /etc /usr /run /var/lib/systemd -path /run/user -prune -o -name "*varnu*" -print 2>/dev/null)
[ -z "$left" ] || problem "left: $left"
systemctl list-units --all --plain --no-legend "varnu*" | grep . && problem "units are left"
pgrep -f varnu-devices && problem "the service still runs"
free "$keyboard" || problem "the keyboard is still held"
exit $problems'
}

# What installing ddcutil and steam-devices beside Varnu means: their rules give the seat user
# the display buses and uinput again, and Varnu says so.
other_packages_rules() {
    guest '
apt-get install -y -qq --no-install-recommends --no-download -o Dir::Cache::Archives=/var/cache/system-test/ \
    ddcutil steam-devices >/tmp/others.log 2>&1 ||
    fail "$(cat /tmp/others.log)"
until_true 10 sh -c "getfacl -cp /dev/uinput | grep -q ^user:alice:rw" ||
    fail "no ACL for alice on uinput: $(getfacl -cp /dev/uinput)"
keys=$(as alice varnu-probe keys 2>&1)
echo "$keys" | grep -q "this user can open /dev/uinput by an ACL.*60-steam-input.rules" ||
    fail "varnu-probe keys: $keys"
monitors=$(as alice varnu-probe monitors 2>&1)
opened=
for bus in $(display_buses); do
    as alice sh -c "exec 3<>$bus" 2>/dev/null || continue
    opened=$bus
    echo "$monitors" | grep -q "this user can open.*$bus" || fail "varnu-probe monitors: $monitors"
done
[ -n "$opened" ] || fail "ddcutil gave alice no display bus: $(ls -l /dev/i2c-*)"
# With what they pulled in: i2c-tools gives the buses to its i2c group.
apt-get purge -y -qq --autoremove ddcutil steam-devices >/tmp/others.log 2>&1 ||
    fail "$(cat /tmp/others.log)"
for node in /dev/uinput $(display_buses); do
    [ "$(node_state $node)" = "root:varnu-devices 660" ] || fail "$node is $(node_state $node)"
done
true'
}

# The service's keys on this kernel; the figures go to the log.
measured() {
    guest '$share/varnu_system_benchmarks --benchmark_counters_tabular=true 2>&1' |
        tee "$vm_dir/benchmarks.txt"
}

run_checks() {
    check "systemd, udev and logind run; alice is in front on seat0; uinput is not loaded" guest '
loginctl show-session $(loginctl list-sessions --no-legend | awk "\$3 == \"alice\" {print \$1}") \
    -p Seat -p Active | tr "\n" " " | grep -q "Seat=seat0 Active=yes" || fail "$(loginctl)"
[ ! -d /sys/module/uinput ] || fail "uinput is loaded"'

    echo "-- installed with i2c-dev loaded before"
    check "installed with apt after modprobe i2c-dev" guest '
modprobe i2c-dev && apt-get install -y -qq $share/varnu.deb >/tmp/install.log 2>&1 ||
    fail "$(cat /tmp/install.log)"'
    check "at once: socket listening, modules loaded, devices the service's only" installed_and_set_up
    check "Varnu started in alice's session holds the keyboard" varnu_holds_keyboards
    check "alice cannot open event devices, uinput or the display buses" seat_user_cannot_open_devices
    check "a line typed on the PS/2 keyboard reaches alice's shell through the copy" \
        typing_reaches_the_shell
    check "volume keys asked of Varnu and passed reach the shell, between letters" \
        volume_keys_passed_by_varnu
    check "a client that keeps up and mute: kept keys never reach the shell, down does" \
        kept_and_passed_keys
    check "carol, without a session at the seat, is refused and asked nothing" other_user_refused
    check "a switch to bob's VT serves bob's client, and back to alice's" vt_switch_moves_the_hold
    check "Varnu again holds the keyboard" varnu_again
    check "Varnu killed: the keyboard works, and Varnu is served again" varnu_killed
    check "Varnu stopped: the key passes after the wait, typing goes on, held again after" \
        varnu_stopped
    check "the service stopped: typing goes on, the keys are held again" service_stopped
    check "the service killed: typing goes on, the keys are held again" service_killed
    check "an upgrade while held: the service restarts, typing goes on, held again" \
        upgraded_while_held
    check "a USB keyboard plugged in is held, and its copy goes with it" usb_keyboard_plugged

    echo "-- after a reboot"
    check "the guest boots again" reboot
    check "no failed unit, no sandbox denial, devices the service's only" healthy_after_boot
    check "Varnu started in alice's session holds the keyboard" varnu_holds_keyboards
    check "a line typed reaches alice's shell through the copy" typing_reaches_the_shell
    check "ddcutil's and steam-devices' rules: varnu-probe says what they give alice" \
        other_packages_rules

    echo "-- purged"
    check "purged: user, group, units, rules, socket gone; devices back to root" purged
    check "the guest boots again" reboot
    check "after the reboot, nothing of Varnu" nothing_left

    echo "-- installed with neither module loaded"
    check "installed with apt, i2c-dev and uinput not loaded" guest '
[ ! -d /sys/module/uinput ] && [ ! -d /sys/module/i2c_dev ] || fail "$(lsmod | grep -E "uinput|i2c_dev")"
apt-get install -y -qq $share/varnu.deb >/tmp/install.log 2>&1 || fail "$(cat /tmp/install.log)"'
    check "at once: socket listening, modules loaded, devices the service's only" installed_and_set_up
    check "Varnu started in alice's session holds the keyboard" varnu_holds_keyboards
    check "a line typed reaches alice's shell through the copy" typing_reaches_the_shell
    check "keys through the service and a bare loop on this kernel, measured" measured
    cat "$vm_dir/benchmarks.txt"
}
