# A small X desktop for the tests: Xvfb, the Openbox window manager and the trayer system tray,
# each started by the test that needs it and stopped by its pid. Sourced by the tests' scripts;
# they exit 77 (skipped) when a program is missing.

x11_pids=()
x11_scratch=
x11_size=
x11_failures=0

x11_fail() {
    echo "FAILED: $*"
    x11_failures=$((x11_failures + 1))
}

# Ends the test: failed when a check failed, else passed with the message.
x11_finish() {
    if [ "$x11_failures" -ne 0 ]; then
        echo "$x11_failures check(s) failed"
        exit 1
    fi
    echo "$1"
}

x11_require() {
    local program
    for program in "$@"; do
        if ! command -v "$program" >/dev/null 2>&1; then
            echo "$program is not installed: skipped"
            exit 77
        fi
    done
}

x11_stop() {
    local index
    for ((index = ${#x11_pids[@]} - 1; index >= 0; index--)); do
        kill -TERM "${x11_pids[index]}" 2>/dev/null
        wait "${x11_pids[index]}" 2>/dev/null
    done
    x11_pids=()
    [ -n "$x11_scratch" ] && rm -rf "$x11_scratch"
}

# A private home, configuration and runtime folder; nothing of the user's session leaks in or
# out. Without a session bus Qt's tray icon speaks XEmbed to the tray on the X display.
x11_isolate() {
    x11_scratch=$(mktemp -d)
    trap x11_stop EXIT
    mkdir -m 700 "$x11_scratch/runtime"
    export HOME="$x11_scratch" XDG_CONFIG_HOME="$x11_scratch/config"
    export XDG_RUNTIME_DIR="$x11_scratch/runtime"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP
    # libxkbcommon-x11 hands strndup buffers that are not NUL-terminated when Qt connects to an
    # X server; the sanitizer's strict string checks would stop the run inside that library.
    if [ -n "${ASAN_OPTIONS:-}" ]; then
        export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
    fi
}

# Runs a command until it succeeds, for at most the given number of seconds.
x11_wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -le 0 ] && return 1
        sleep 0.1
    done
}

# Starts Xvfb on a free display with one screen of the given size (WIDTHxHEIGHT) and sets
# DISPLAY. The server keeps its state when the last client goes, so monitors set with xrandr
# stay.
x11_start_server() {
    x11_size=$1
    local ready="$x11_scratch/display"
    mkfifo "$ready"
    Xvfb -displayfd 3 -screen 0 "${x11_size}x24" -nolisten tcp -noreset 3>"$ready" \
        >"$x11_scratch/xvfb.log" 2>&1 &
    x11_pids+=($!)
    local number
    if ! read -r -t 10 number <"$ready"; then
        cat "$x11_scratch/xvfb.log"
        echo "Xvfb did not start"
        exit 1
    fi
    export DISPLAY=":$number"
}

# Splits the screen into two monitors side by side, as two displays of equal size would be;
# Qt makes one screen of each.
x11_split_screen() {
    local width=${x11_size%x*} height=${x11_size#*x}
    local half=$((width / 2))
    xrandr --setmonitor left "$half/0x$height/0+0+0" screen >/dev/null &&
        xrandr --setmonitor right "$half/0x$height/0+$half+0" none >/dev/null &&
        [ "$(xrandr --listmonitors | head -1)" = "Monitors: 2" ] || {
        echo "could not split the screen into two monitors"
        exit 1
    }
}

# Starts a program in the background (NAME ARGUMENTS…) and waits until the check (a shell
# command) holds.
x11_start() {
    local check=$1
    shift
    "$@" >"$x11_scratch/$1.log" 2>&1 &
    x11_pids+=($!)
    if ! x11_wait_for 10 sh -c "$check"; then
        cat "$x11_scratch/$1.log"
        echo "$1 did not start"
        exit 1
    fi
}

x11_start_window_manager() {
    x11_start 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' openbox --sm-disable
}

# The tray's panel window, once the tray runs.
x11_tray_panel() {
    xdotool search --classname '^panel$' 2>/dev/null | head -1
}

x11_start_tray() {
    x11_start '[ -n "$(xdotool search --classname "^panel$")" ]' \
        trayer --edge bottom --align right --widthtype percent --width 100 --height 28 \
        --SetDockType true --transparent true --alpha 0 --tint 0x2b2b2b
}

# The window manager's client with exactly this title, in decimal as xdotool prints windows.
x11_client_titled() {
    local window
    for window in $(xprop -root _NET_CLIENT_LIST | grep -o '0x[0-9a-f]*'); do
        if [ "$(xdotool getwindowname "$window")" = "$1" ]; then
            printf '%d\n' "$window"
            return 0
        fi
    done
    return 1
}

# Closes a managed window as its close button would (Openbox closes the focused window on
# Alt+F4), asking again while it is still shown: the first request can reach the window manager
# before the window is fully its own.
x11_close() {
    local attempt
    for attempt in 1 2 3; do
        xdotool windowactivate --sync "$1" key alt+F4 2>/dev/null
        x11_wait_for 2 bash -c "! xwininfo -id $1 2>/dev/null | grep -q IsViewable" && return 0
    done
    return 1
}

# Prints "X Y WIDTH HEIGHT" of a window, in root coordinates.
x11_geometry() {
    [ -n "$1" ] || return 1
    xwininfo -id "$1" | awk '
        /Absolute upper-left X:/ {x = $4}
        /Absolute upper-left Y:/ {y = $4}
        /Width:/ {w = $2}
        /Height:/ {h = $2}
        END {print x, y, w, h}'
}

# Moves the pointer to X Y and waits until it is there.
x11_move_pointer() {
    local X Y SCREEN WINDOW
    eval "$(xdotool getmouselocation --shell)"
    # xdotool would wait for a move that never comes when the pointer stands there already.
    if [ "$X" != "$1" ] || [ "$Y" != "$2" ]; then
        xdotool mousemove --sync "$1" "$2"
    fi
}

x11_click() {
    x11_move_pointer "$1" "$2"
    xdotool click "$3"
}

x11_is_viewable() {
    [ -n "$1" ] || return 1
    xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"
}

# Saves a picture of the X server's screen, or of a part of it (WIDTHxHEIGHT+X+Y).
x11_screenshot() {
    local file=$1 crop=${2:-}
    command -v import >/dev/null 2>&1 || return 0
    if [ -n "$crop" ]; then
        import -window root -crop "$crop" +repage "$file"
    else
        import -window root "$file"
    fi
}
