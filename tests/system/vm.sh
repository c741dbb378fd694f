# The system test's virtual machine, sourced by run.sh: boots the image on a copy-on-write overlay
# under QEMU, runs scripts in the guest through its agent (a virtio-serial port) and types on
# the guest's keyboard through QEMU's monitor. Needs vm_dir, a folder of the run's own.

# KVM where a guest really runs under it, TCG otherwise; nothing when QEMU cannot run here.
vm_accelerator() {
    command -v qemu-system-x86_64 >/dev/null || return 1
    if [ -w /dev/kvm ] && [ "${VARNU_SYSTEM_ACCEL:-}" != tcg ] &&
        timeout 20 qemu-system-x86_64 -accel kvm -nodefaults -display none -m 64 \
            -kernel "$1" -append "console=ttyS0 panic=-1" -serial stdio -no-reboot 2>/dev/null |
        grep -q "VFS: Unable to mount root\|Kernel panic"; then
        echo kvm
    elif qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg; then
        echo tcg
    else
        return 1
    fi
}

# vm_start IMAGE SHARE: boots the image with SHARE readable in the guest as the 9p tag "share".
vm_start() {
    local image=$1 share=$2
    qemu-img create -q -f qcow2 -b "$image/rootfs.raw" -F raw "$vm_dir/overlay.qcow2"
    mkfifo "$vm_dir/agent.in" "$vm_dir/agent.out" "$vm_dir/monitor.in" "$vm_dir/monitor.out"
    qemu-system-x86_64 -accel "$vm_accel" -m 2048 -smp 2 -nodefaults -display none \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 quiet loglevel=4 drm_kms_helper.fbdev_emulation=0" \
        -drive "file=$vm_dir/overlay.qcow2,if=virtio,format=qcow2" \
        -device ati-vga,model=rv100 -device qemu-xhci,id=xhci \
        -device virtio-serial -chardev "pipe,id=agent,path=$vm_dir/agent" \
        -device virtserialport,chardev=agent,name=test.agent \
        -virtfs "local,path=$share,mount_tag=share,security_model=none,readonly=on" \
        -monitor "pipe:$vm_dir/monitor" -serial "file:$vm_dir/console.log" -nic none \
        >"$vm_dir/qemu.log" 2>&1 &
    vm_pid=$!
    exec {vm_agent_in}>"$vm_dir/agent.in" {vm_agent_out}<"$vm_dir/agent.out"
    exec {vm_monitor_in}>"$vm_dir/monitor.in"
    cat "$vm_dir/monitor.out" >"$vm_dir/monitor.log" &
    vm_monitor_reader=$!
}

vm_stop() {
    [ -n "${vm_pid:-}" ] || return 0
    echo quit >&"$vm_monitor_in" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$vm_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$vm_pid" 2>/dev/null || true
    wait "$vm_pid" 2>/dev/null || true
    kill "$vm_monitor_reader" 2>/dev/null || true
    vm_pid=
}

# Waits for the agent's greeting after a boot, at most SECONDS.
vm_wait_ready() {
    local line deadline=$((SECONDS + $1))
    while [ "$SECONDS" -lt "$deadline" ]; do
        if IFS= read -r -t 5 line <&"$vm_agent_out" && [ "$line" = "@@ready@@" ]; then
            return 0
        fi
        kill -0 "$vm_pid" 2>/dev/null || break
    done
    echo "the guest did not come up; its console ends:" >&2
    tail -30 "$vm_dir/console.log" >&2
    return 1
}

vm_send() {
    printf '%s\n' "$(printf '%s' "$1" | base64 -w0)" >&"$vm_agent_in"
}

# vm_run SCRIPT: runs the script as root in the guest, prints its output and returns its status.
vm_run() {
    local line
    vm_send "$1"
    while IFS= read -r -t 600 line <&"$vm_agent_out"; do
        if [[ "$line" =~ ^@@rc=([0-9]+)@@$ ]]; then
            return "${BASH_REMATCH[1]}"
        elif [ "$line" = "@@ready@@" ]; then
            echo "the guest started again"
            return 125
        fi
        [ -z "$line" ] || printf '%s\n' "$line"
    done
    echo "the agent did not answer" >&2
    return 124
}

vm_monitor() {
    printf '%s\n' "$*" >&"$vm_monitor_in"
}

# vm_type TEXT: types the text on the emulated PS/2 keyboard, one key at a time; a line feed is
# Return. Letters, digits, space and - . / = only.
vm_type() {
    local text=$1 i char key
    for ((i = 0; i < ${#text}; i++)); do
        char=${text:i:1}
        case "$char" in
        [a-z0-9]) key=$char ;;
        ' ') key=spc ;;
        -) key=minus ;;
        .) key=dot ;;
        /) key=slash ;;
        =) key=equal ;;
        $'\n') key=ret ;;
        *) echo "vm_type: no key for '$char'" >&2; return 1 ;;
        esac
        vm_key "$key"
    done
}

# vm_key NAME: one key by its QEMU name (volumeup, volumedown, audiomute, ret...).
vm_key() {
    vm_monitor "sendkey $1 40"
    sleep 0.12
}
