#!/usr/bin/env bash
# Varnu's demo under headless sway with XWayland (or natively on Wayland with MODE native), two
# outputs side by side and waybar as the panel. The tray item registers with waybar's watcher
# when waybar starts after Varnu, again after waybar restarts, and when waybar was there first;
# its exported menu holds the core's items, and a left click on the icon opens it at the icon;
# with no tray one notification is posted, with a tray none. A click on the demo window's
# "Volume Up" on either output shows the overlay on that output (the focused one), centred, 140
# px above its bottom edge, and the focus stays where it was. Varnu prints nothing. Pictures of
# the tray, its menu and the overlay go into PICTURES. varnu-probe names the layer shell as the
# overlay's path. Skips (77) where a program is missing.
# Usage: run-under-sway.sh VARNU POINTER PROBE PICTURES [native]
set -u
here=$(dirname "$0")
source "$here/x11-session.sh"
source "$here/wayland-session.sh"
x11_require sway waybar grim swaymsg jq dbus-daemon dbus-monitor gdbus Xwayland convert runuser
wl_rerun_unprivileged "$0" "$4" "$1" "$2" "$3" -- "${5:-}"
varnu=$1
pointer=$2
probe=$3
pictures=$4
mode=${5:-}
readonly overlay_size=200 overlay_bottom_inset=140

wl_start_session
wl_start_pointer "$pointer"
dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" \
    >"$x11_scratch/notifications.log" 2>&1 &
x11_pids+=($!)

# Starts the demo and closes the settings window its first run opens.
varnu_pid=
start_varnu() {
    if [ "$mode" = native ]; then
        QT_QPA_PLATFORM=wayland "$varnu" --demo >>"$x11_scratch/varnu.log" 2>&1 &
    else
        "$varnu" --demo >>"$x11_scratch/varnu.log" 2>&1 &
    fi
    varnu_pid=$!
    x11_pids+=($varnu_pid)
    x11_wait_for 15 bash -c "swaymsg -t get_tree | grep -q '\"name\": \"Varnu\"'" &&
        swaymsg '[title="^Varnu$"] kill' >/dev/null
}

# The watcher's entry for the item, once it lists it.
registered_item() {
    wl_items_of "$varnu_pid" | grep .
}
notifications() {
    grep -c 'member=Notify' "$x11_scratch/notifications.log"
}
export -f wl_pixel wl_items_of registered_item notifications
export x11_scratch

expect_registered() {
    if x11_wait_for 15 registered_item; then
        echo "the item registers $1"
    else
        x11_fail "the item does not register $1"
    fi
}

# The tray icon's box on the bar (X Y WIDTH HEIGHT): the bright pixels at the bar's right end.
icon_box() {
    local box
    box=$(grim -g "$((wl_output_width - 200)),0 200x30" - | convert - -threshold 70% -trim \
        -format '%X %Y %w %h' info: | tr -d '+')
    [ "$(echo "$box" | cut -d' ' -f3)" -ge 10 ] && echo "$box"
}

if "$probe" 2>/dev/null | grep -q "^Overlay: a layer surface"; then
    echo "varnu-probe names the layer shell as the overlay's path"
else
    x11_fail "varnu-probe does not name the layer shell: $("$probe" 2>&1 | grep Overlay)"
fi
start_varnu
if [ "$mode" != native ]; then
    if x11_wait_for 20 bash -c '[ "$(notifications)" -ge 1 ]'; then
        echo "without a tray, a notification says that Varnu runs"
    else
        x11_fail "without a tray, no notification was posted"
    fi
    wl_start_waybar
    export varnu_pid
    expect_registered "when waybar starts after Varnu"
    wl_stop_waybar
    x11_wait_for 10 bash -c '! registered_item'
    wl_start_waybar
    expect_registered "again after waybar restarts"
    kill -TERM "$varnu_pid" && wait "$varnu_pid"
    start_varnu
    started=$SECONDS
    export varnu_pid
    expect_registered "when waybar was there before Varnu"
    item=$(registered_item)
    layout=$(gdbus call --session -d "${item%%[@/]*}" -o /MenuBar \
        -m com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []')
    for item in "Output device for the volume keys" "Varnu Demo Display" "Settings…" "Quit"; do
        if ! grep -qF "'$item'" <<<"$layout"; then
            x11_fail "the exported menu lacks \"$item\": $layout"
        fi
    done
    # A left click on the icon: waybar opens the exported menu right under it.
    if x11_wait_for 10 icon_box; then
        read -r x y width height < <(icon_box)
        icon_x=$((wl_output_width - 200 + x + width / 2))
        grim -g "$((wl_output_width - 320)),0 320x30" "$pictures/sway-tray.png"
        under_icon="$((icon_x - 40)) 45"
        wl_click "$icon_x" $((y + height / 2))
        if x11_wait_for 5 bash -c "[ \"\$(wl_pixel $under_icon)\" = '#FFFFFF' ]"; then
            echo "a left click on the icon opens the menu at the icon"
            grim -g "$((wl_output_width - 400)),0 400x200" "$pictures/sway-tray-menu.png"
        else
            x11_fail "a left click on the icon opens no menu under it"
        fi
        wl_click 20 $((wl_output_height - 20))
    else
        x11_fail "waybar shows no icon"
    fi
fi

# The overlay, on each output in turn, with the demo window focused there.
x11_wait_for 15 bash -c "swaymsg -t get_tree | grep -q 'Varnu Demo'" ||
    x11_fail "the demo window did not appear"
top=$((wl_output_height - overlay_bottom_inset - overlay_size))
for output in 1 2; do
    left=$(((output - 1) * wl_output_width))
    swaymsg "[title=\"^Varnu Demo\"] move container to output HEADLESS-$output, focus," \
        "move position 20 40" >/dev/null
    sleep 0.5
    focused=$(wl_focus)
    read -r x y width < <(wl_window "Varnu Demo — Varnu")
    overlay_left=$((left + (wl_output_width - overlay_size) / 2))
    inside="$((overlay_left + 10)) $((top + 100))"
    overlay_shown() {
        x11_wait_for 2 bash -c "[ \"\$(wl_pixel $inside)\" != '$wl_desktop_colour' ]"
    }
    # The overlay stays 1.4 s; on a loaded machine it may be gone before the first look, and a
    # person would press the key again.
    if wl_click $((x + width / 2)) $((y + 22)) && overlay_shown ||
        { wl_click $((x + width / 2)) $((y + 22)) && overlay_shown; }; then
        shot="$x11_scratch/shot.png"
        grim "$shot"
        # Just outside the panel's top, bottom and left edges, and the same place on the other
        # output: the desktop.
        other_left=$(((2 - output) * wl_output_width + (wl_output_width - overlay_size) / 2))
        around=$(for point in "$((overlay_left + 100)) $((top - 1))" \
            "$((overlay_left + 100)) $((top + overlay_size))" "$((overlay_left - 1)) $((top + 100))" \
            "$((other_left + 10)) $((top + 100))"; do
            wl_pixel $point "$shot"
        done | sort -u)
        inner=$(for point in "$((overlay_left + 100)) $top" \
            "$((overlay_left + 100)) $((top + overlay_size - 1))" "$overlay_left $((top + 100))"; do
            wl_pixel $point "$shot"
        done | sort -u)
        if [ "$around" = "$wl_desktop_colour" ] && ! grep -q "$wl_desktop_colour" <<<"$inner"; then
            echo "HEADLESS-$output: the overlay is centred, 140 px above the bottom edge"
        else
            x11_fail "HEADLESS-$output: the overlay is not where expected (around: $around," \
                "inside: $inner)"
        fi
        if [ "$output" = 2 ]; then
            convert "$shot" -crop "${wl_output_width}x$wl_output_height+$left+0" +repage \
                "$pictures/sway-overlay${mode:+-$mode}.png"
        fi
    else
        x11_fail "HEADLESS-$output: no overlay at $inside"
    fi
    if [ "$(wl_focus)" = "$focused" ]; then
        echo "HEADLESS-$output: the focus stays with $focused"
    else
        x11_fail "HEADLESS-$output: the focus moved from $focused to $(wl_focus)"
    fi
done

if [ "$mode" != native ]; then
    # Long enough after the second start for its notification to have come, had it been due.
    sleep $((started + 12 > SECONDS ? started + 12 - SECONDS : 0))
fi
if [ "$mode" != native ] && [ "$(notifications)" -ne 1 ]; then
    x11_fail "$(notifications) notifications were posted; one, before the tray, was expected"
fi
# Only the notice that no panel shows the icon, given before waybar started.
if grep -v "^varnu: Varnu is running, but no panel shows its icon" "$x11_scratch/varnu.log" |
    grep -q .; then
    x11_fail "Varnu printed:"
    cat "$x11_scratch/varnu.log"
fi
x11_finish "The tray item and the overlay work under sway${mode:+ ($mode)}"
