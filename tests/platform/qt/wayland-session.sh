# A small Wayland desktop for the tests: headless sway with XWayland and two outputs side by
# side, a private session bus, waybar as the panel with its tray, and a virtual pointer. Sway
# refuses to run as root, so a test run as root runs again as the unprivileged system user
# varnu-test, made if missing, in a scratch folder that user owns. Sourced after x11-session.sh,
# whose reporting and waiting it shares.

readonly wl_user=varnu-test
readonly wl_output_width=1280 wl_output_height=800
readonly wl_desktop_colour='#3B6E8F'
wl_pointer_input=

# As root: runs this script (with its arguments, the first ones being files to copy) again as
# the test user, copies back the pictures it took into PICTURES, and exits with its status.
# Usage: wl_rerun_unprivileged SCRIPT PICTURES FILE... -- ARGUMENT...
wl_rerun_unprivileged() {
    [ "$(id -u)" -eq 0 ] || return 0
    local script=$1 pictures=$2
    shift 2
    id "$wl_user" >/dev/null 2>&1 ||
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
            "$wl_user" || exit 1
    local scratch
    scratch=$(mktemp -d)
    chmod 755 "$scratch"
    cp "$(dirname "$script")"/*.sh "$scratch/"
    local copies=()
    while [ "$1" != -- ]; do
        install -m 755 "$1" "$scratch/"
        # The icons drawn beside a program in its build folder, which it finds there.
        [ -d "$(dirname "$1")/icons" ] && cp -r "$(dirname "$1")/icons" "$scratch/"
        copies+=("$scratch/$(basename "$1")")
        shift
    done
    shift
    mkdir "$scratch/pictures"
    local options=${LSAN_OPTIONS:-}
    if [[ $options =~ suppressions=([^:]*) ]]; then
        cp "${BASH_REMATCH[1]}" "$scratch/lsan.supp"
        options=${options/${BASH_REMATCH[1]}/$scratch/lsan.supp}
    fi
    chown -R "$wl_user" "$scratch"
    runuser -u "$wl_user" -- env -i PATH="$PATH" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="$options" GN_STARTS="${GN_STARTS:-}" \
        bash "$scratch/$(basename "$script")" "${copies[@]}" "$scratch/pictures" "$@"
    local status=$?
    mkdir -p "$pictures" && cp "$scratch"/pictures/*.png "$pictures/" 2>/dev/null
    rm -rf "$scratch"
    exit "$status"
}

# Starts the session bus and sway with XWayland; sets what a client of the session needs.
wl_start_session() {
    x11_isolate
    export NO_AT_BRIDGE=1 LANG=C.UTF-8 LANGUAGE=
    unset DISPLAY
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        >"$x11_scratch/dbus.log" 2>&1 &
    x11_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    cat >"$x11_scratch/sway.config" <<CONFIG
output HEADLESS-1 resolution ${wl_output_width}x$wl_output_height position 0 0 bg $wl_desktop_colour solid_color
output HEADLESS-2 resolution ${wl_output_width}x$wl_output_height position $wl_output_width 0 bg $wl_desktop_colour solid_color
xwayland enable
focus_follows_mouse no
for_window [title="^Varnu"] floating enable
exec sh -c 'echo "\$DISPLAY" > "\$XDG_RUNTIME_DIR/x-display"'
CONFIG
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=2 WLR_RENDERER=pixman \
        sway -c "$x11_scratch/sway.config" >"$x11_scratch/sway.log" 2>&1 &
    x11_pids+=($!)
    if ! x11_wait_for 15 test -s "$XDG_RUNTIME_DIR/x-display"; then
        cat "$x11_scratch/sway.log"
        echo "sway did not start"
        exit 1
    fi
    export WAYLAND_DISPLAY SWAYSOCK DISPLAY
    WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-* | grep -v lock | head -1)")
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    DISPLAY=$(cat "$XDG_RUNTIME_DIR/x-display")
}

# A pointer for the seat, driven through a pipe: wl_click X Y in layout coordinates.
wl_start_pointer() {
    wl_pointer_input="$x11_scratch/pointer"
    mkfifo "$wl_pointer_input" "$x11_scratch/pointer.out"
    "$1" "$((2 * wl_output_width))x$wl_output_height" <"$wl_pointer_input" \
        >"$x11_scratch/pointer.out" 2>&1 &
    x11_pids+=($!)
    exec 7>"$wl_pointer_input" 8<"$x11_scratch/pointer.out"
    local answer
    read -r -t 10 answer <&8 && [ "$answer" = ok ] || {
        echo "the virtual pointer did not start"
        exit 1
    }
}

wl_pointer() {
    local answer
    echo "$*" >&7 && read -r -t 10 answer <&8 && [ "$answer" = ok ]
}

# Moves the pointer there first, so that the window under it has it before the click.
wl_click() {
    wl_pointer move "$1" "$2" && sleep 0.3 && wl_pointer click "$1" "$2"
}

waybar_pid=
wl_start_waybar() {
    cat >"$x11_scratch/waybar.json" <<'CONFIG'
{"layer": "top", "position": "top", "height": 30, "output": "HEADLESS-1",
 "modules-right": ["tray"], "tray": {"icon-size": 22, "spacing": 8}}
CONFIG
    echo 'window#waybar { background: #2b2b2b; color: #ffffff; }' >"$x11_scratch/waybar.css"
    waybar -c "$x11_scratch/waybar.json" -s "$x11_scratch/waybar.css" \
        >>"$x11_scratch/waybar.log" 2>&1 &
    waybar_pid=$!
    x11_pids+=($waybar_pid)
}

wl_stop_waybar() {
    kill -TERM "$waybar_pid" && wait "$waybar_pid" 2>/dev/null
}

# The colour of the pixel at X Y of the layout, as #RRGGBB; of a picture of it when one is given
# as the third argument.
wl_pixel() {
    if [ -n "${3:-}" ]; then
        convert "$3" -crop "1x1+$1+$2" -depth 8 txt:-
    else
        grim -g "$1,$2 1x1" - | convert - -depth 8 txt:-
    fi | grep -o '#[0-9A-F]\{6\}' | head -1
}

# The focused window's id and name.
wl_focus() {
    swaymsg -t get_tree | jq -r '.. | select(.focused? == true) | "\(.id) \(.name)"'
}

# X Y WIDTH of the window with this title, in layout coordinates.
wl_window() {
    swaymsg -t get_tree |
        jq -r --arg title "$1" '.. | select(.name? == $title) | "\(.rect.x) \(.rect.y) \(.rect.width)"'
}

# The watcher's entries for items of the process with this pid.
wl_items_of() {
    local entry owner
    for entry in $(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | tr -d "'"); do
        owner=${entry%%[@/]*}
        if [ "$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
            -m org.freedesktop.DBus.GetConnectionUnixProcessID "$owner" 2>/dev/null |
            sed -n 's/.*uint32 \([0-9]*\).*/\1/p')" = "$1" ]; then
            echo "$entry"
        fi
    done
}
