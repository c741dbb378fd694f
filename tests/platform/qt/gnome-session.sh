# GNOME Shell for the tests: headless, with two virtual monitors side by side and XWayland, on a
# session bus of its own and an empty stand-in for the system bus, with a scratch home whose
# settings (GSettings' key file) enable the AppIndicator extension or not. A small extension of
# the test's own puts the shell in its unsafe mode, so that the test can ask it what it shows
# (org.gnome.Shell.Eval). Sourced after x11-session.sh and wayland-session.sh, whose reporting,
# waiting and unprivileged re-run it shares: GNOME Shell too refuses root.

readonly gn_appindicator=ubuntu-appindicators@ubuntu.com
readonly gn_helper=varnu-test@varnu
readonly gn_monitor_width=1280 gn_monitor_height=800
gn_shell_pid=
gn_bus_pids=()

# As root: the shell reads logind's seats when /run/systemd/seats exists, and then needs the
# system bus, which a machine without systemd as PID 1 lacks; in a mount namespace of the test's
# own, an empty /run/systemd makes it take the session as it is. XWayland wants the X sockets'
# folder world-writable and sticky, as the first X server made by root leaves it.
gn_hide_system_session() {
    [ "$(id -u)" -eq 0 ] || return 0
    [ -n "${gn_in_namespace:-}" ] && return 0
    mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
    gn_in_namespace=1 exec unshare --mount --propagation private \
        sh -c 'mount -t tmpfs none /run/systemd && exec "$@"' sh "$@"
}

# Starts the shell with the given extensions enabled besides the test's own, once everything
# before it has been stopped; sets what a client of the session needs.
gn_start_shell() {
    gn_stop_shell
    local home="$x11_scratch/home"
    rm -rf "$home"
    mkdir -p "$home/.config/glib-2.0/settings" \
        "$home/.local/share/gnome-shell/extensions/$gn_helper"
    local enabled="'$gn_helper'" extension
    for extension in "$@"; do
        enabled+=", '$extension'"
    done
    cat >"$home/.config/glib-2.0/settings/keyfile" <<SETTINGS
[org/gnome/shell]
enabled-extensions=[$enabled]
welcome-dialog-last-shown-version='999'
SETTINGS
    cat >"$home/.local/share/gnome-shell/extensions/$gn_helper/metadata.json" <<'METADATA'
{"uuid": "varnu-test@varnu", "name": "Varnu's tests", "description": "Lets the tests ask the shell",
 "shell-version": ["43", "44", "45"]}
METADATA
    cat >"$home/.local/share/gnome-shell/extensions/$gn_helper/extension.js" <<'EXTENSION'
function init() {}
function enable() { global.context.unsafe_mode = true; }
function disable() {}
EXTENSION
    export HOME="$home" XDG_CONFIG_HOME="$home/.config" GSETTINGS_BACKEND=keyfile
    export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
    rm -f "$XDG_RUNTIME_DIR/bus" "$XDG_RUNTIME_DIR/system-bus"
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        >>"$x11_scratch/dbus.log" 2>&1 &
    gn_bus_pids=($!)
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/system-bus" \
        >>"$x11_scratch/dbus.log" 2>&1 &
    gn_bus_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system-bus"
    x11_wait_for 5 test -S "$XDG_RUNTIME_DIR/system-bus" || return 1
    x11_wait_for 5 test -S "$XDG_RUNTIME_DIR/bus" || return 1
    unset DISPLAY WAYLAND_DISPLAY
    # Gone before the shell starts, not emptied by its own redirection, which runs once the shell
    # is forked: the wait below would otherwise read the last shell's display from it.
    rm -f "$x11_scratch/shell.log"
    gnome-shell --headless --wayland --virtual-monitor "${gn_monitor_width}x$gn_monitor_height" \
        --virtual-monitor "${gn_monitor_width}x$gn_monitor_height" >"$x11_scratch/shell.log" 2>&1 &
    gn_shell_pid=$!
    gn_started_at=$(date +%s.%N)
    local display
    if ! x11_wait_for 20 grep -q "Using public X11 display" "$x11_scratch/shell.log"; then
        cat "$x11_scratch/shell.log"
        echo "GNOME Shell did not start"
        return 1
    fi
    display=$(grep -o "public X11 display :[0-9]*" "$x11_scratch/shell.log" | grep -o ":[0-9]*")
    export DISPLAY=$display WAYLAND_DISPLAY
    WAYLAND_DISPLAY=$(grep -o "Wayland display name '[^']*'" "$x11_scratch/shell.log" |
        cut -d"'" -f2)
    # The shell hands XWayland's key to the session manager, which these tests do without.
    export XAUTHORITY
    XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -1)
}

# Waits until the shell has finished starting and answers the test's questions.
gn_wait_until_ready() {
    x11_wait_for 30 bash -c '[ "$(gn_eval "Main.layoutManager._startingUp")" = false ]'
}

gn_stop_shell() {
    local pid
    for pid in $gn_shell_pid "${gn_bus_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    gn_shell_pid=
    gn_bus_pids=()
}

# Runs JavaScript in the shell and prints its result (JSON for what is not a string).
gn_eval() {
    local answer
    answer=$(gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.gnome.Shell.Eval "$1" 2>/dev/null) || return 1
    [[ $answer == "(true, "* ]] || return 1
    answer=${answer#(true, \'}
    printf '%s\n' "${answer%\')}"
}
