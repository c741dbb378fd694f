#!/usr/bin/env bash
# The tray icon on a real X server with a window manager (Openbox) and an XEmbed system tray
# (trayer): the icon appears in the tray, a left and a right click each open its menu, and
# choosing "Settings…" shows the settings window. Runs the application as it is, then its demo,
# whose menu lists the simulated monitor, and saves pictures of the tray and its menu into
# PICTURES. Skips (77) where a program is missing.
# Usage: run-tray-under-xvfb.sh VARNU PICTURES
set -u
varnu=$1
pictures=$2
source "$(dirname "$0")/x11-session.sh"
x11_require Xvfb openbox trayer xdotool xwininfo xprop xsetroot
mkdir -p "$pictures"

# The tray icon's window: the application's window embedded in the tray's panel.
tray_icon() {
    local panel
    panel=$(x11_tray_panel)
    [ -n "$panel" ] || return 1
    xwininfo -tree -id "$panel" | awk '/\("varnu" "varnu"\)/ {print $1; exit}'
}

# The tray icon, once the tray has given it its place: it starts as a speck in a corner.
placed_tray_icon() {
    local icon x y width height
    icon=$(tray_icon) || return 1
    read -r x y width height < <(x11_geometry "$icon")
    [ "$width" -ge 16 ] && [ "$height" -ge 16 ] && x11_is_viewable "$icon" && echo "$icon"
}

# The application's open pop-up menu, if any.
open_menu() {
    local window icon
    icon=$(tray_icon)
    for window in $(xdotool search --onlyvisible --classname '^varnu$' 2>/dev/null); do
        [ "$(printf '0x%x' "$window")" = "$icon" ] && continue
        if xwininfo -id "$window" | grep -q "Override Redirect State: yes"; then
            echo "$window"
            return 0
        fi
    done
    return 1
}

# The settings window: the window manager's client titled "Varnu", if it is shown.
settings_window() {
    local window
    window=$(x11_client_titled Varnu) && x11_is_viewable "$window" && echo "$window"
}

click_tray_icon() {
    local x y width height
    read -r x y width height < <(x11_geometry "$(placed_tray_icon)")
    x11_click $((x + width / 2)) $((y + height / 2)) "$1"
}

# One run of the application with a fresh home: the first run opens the settings window, which
# is closed first so that only the menu can bring it back.
check_tray() {
    local name=$1
    shift
    x11_isolate
    x11_start_server 1280x800
    xsetroot -solid '#3b6e8f'
    x11_start_window_manager
    x11_start_tray

    "$varnu" "$@" >"$x11_scratch/varnu.log" 2>&1 &
    x11_pids+=($!)
    if ! x11_wait_for 15 placed_tray_icon; then
        x11_fail "$name: no icon appeared in the tray"
        cat "$x11_scratch/varnu.log"
        x11_stop
        return
    fi
    echo "$name: the icon is in the tray"
    if ! x11_wait_for 15 settings_window; then
        x11_fail "$name: the first run shows no settings window"
    elif ! x11_close "$(settings_window)"; then
        x11_fail "$name: the settings window does not close"
    fi

    local button
    for button in 3 1; do
        click_tray_icon "$button"
        # On a loaded machine the tray may still be settling the embedding when the first click
        # arrives, and a person would click again; a click that never opens the menu still fails.
        if x11_wait_for 5 open_menu ||
            { x11_wait_for 10 placed_tray_icon >/dev/null && click_tray_icon "$button" &&
                x11_wait_for 10 open_menu; }; then
            echo "$name: button $button opens the menu"
        else
            x11_fail "$name: clicking the tray icon with button $button opens no menu"
        fi
        if [ "$button" = 3 ]; then
            xdotool key Escape
            if ! x11_wait_for 5 bash -c '! open_menu'; then
                x11_fail "$name: Escape does not close the menu"
            fi
        fi
    done
    if [ -n "$pictures" ] && open_menu >/dev/null; then
        local x y width height
        read -r x y width height < <(x11_geometry "$(open_menu)")
        x11_screenshot "$pictures/$name-tray-menu.png" \
            "$((1280 - x + 16))x$((800 - y + 16))+$((x - 16))+$((y - 16))"
    fi

    # "Settings…" is the entry above the last one, "Quit".
    xdotool key Up Up Return
    if x11_wait_for 5 settings_window; then
        echo "$name: choosing Settings… shows the settings window"
    else
        x11_fail "$name: choosing Settings… in the tray menu shows no settings window"
    fi
    if x11_wait_for 5 bash -c '[ "$(xdotool getwindowfocus)" = "$(settings_window)" ]'; then
        echo "$name: the settings window has the focus"
    else
        x11_fail "$name: the settings window shown from the menu does not get the focus"
    fi
    if [ -n "$pictures" ]; then
        x11_screenshot "$pictures/$name-tray.png" "320x64+960+736"
    fi
    x11_stop
}

export -f tray_icon open_menu settings_window x11_tray_panel x11_is_viewable x11_client_titled
check_tray application
check_tray demo --demo

x11_finish "The tray shows the icon, opens its menu and the settings window"
