#!/usr/bin/env bash
# The application on an X server with a window manager but no tray and no session bus: it says
# at once on stderr that no panel shows its icon, and its settings window offers Quit, which
# ends it. Skips (77) where a program is missing.
# Usage: run-without-tray-under-xvfb.sh VARNU
set -u
varnu=$1
source "$(dirname "$0")/x11-session.sh"
x11_require Xvfb openbox xdotool xwininfo xprop

x11_isolate
x11_start_server 1280x800
x11_start_window_manager
"$varnu" --demo >"$x11_scratch/varnu.log" 2>&1 &
varnu_pid=$!
x11_pids+=($varnu_pid)
if x11_wait_for 5 grep -q "no panel shows its icon" "$x11_scratch/varnu.log"; then
    echo "stderr says at once that no panel shows the icon"
else
    x11_fail "nothing on stderr says that no panel shows the icon: $(cat "$x11_scratch/varnu.log")"
fi

settings_window() {
    local window
    window=$(x11_client_titled Varnu) && x11_is_viewable "$window" && echo "$window"
}
export -f settings_window x11_client_titled x11_is_viewable
if ! x11_wait_for 15 settings_window; then
    x11_fail "the first run shows no settings window"
else
    # "Quit Varnu" sits at the bottom right, under the content.
    read -r x y width height < <(x11_geometry "$(settings_window)")
    x11_click $((x + width - 60)) $((y + height - 32)) 1
    if x11_wait_for 5 bash -c "! kill -0 $varnu_pid 2>/dev/null"; then
        echo "the settings window's Quit button ends Varnu"
    else
        x11_fail "the settings window has no Quit button that ends Varnu"
    fi
fi
x11_finish "Without a tray, Varnu says so and can be quit"
