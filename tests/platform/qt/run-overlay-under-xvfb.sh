#!/usr/bin/env bash
# The overlay on a real X server with two screens side by side (one Xvfb screen split into two
# RandR monitors, which Qt sees as two screens) and a window manager (Openbox, which focuses
# every window it maps). With the demo window on one screen, a click on its "Volume Up" button
# presses the key: the overlay must appear on the screen under the pointer, centred, its bottom
# edge 140 px above the screen's, and the demo window must keep the focus. Saves a picture of
# each screen with the overlay into PICTURES. Skips (77) where a program is missing.
# Usage: run-overlay-under-xvfb.sh VARNU PICTURES
set -u
varnu=$1
pictures=$2
source "$(dirname "$0")/x11-session.sh"
x11_require Xvfb openbox xdotool xwininfo xprop xrandr xsetroot import
mkdir -p "$pictures"

readonly screen_width=1280 screen_height=800
readonly overlay_size=200 overlay_bottom_inset=140
readonly desktop_colour='#3B6E8F'

# The overlay: the application's shown window of the overlay's size.
overlay_window() {
    local window x y width height
    for window in $(xdotool search --onlyvisible --classname '^varnu$' 2>/dev/null); do
        read -r x y width height < <(x11_geometry "$window")
        if [ "$width $height" = "$overlay_size $overlay_size" ]; then
            echo "$window"
            return 0
        fi
    done
    return 1
}

# The colour of one pixel of the screen, as #RRGGBB.
pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1
}

# Waits until the overlay stands at X Y with its full size.
overlay_at() {
    local window x y width height
    window=$(overlay_window) || return 1
    read -r x y width height < <(x11_geometry "$window")
    [ "$x $y $width $height" = "$1 $2 $overlay_size $overlay_size" ]
}
export -f overlay_window overlay_at x11_geometry
export overlay_size

x11_isolate
x11_start_server "$((2 * screen_width))x$screen_height"
x11_split_screen
xsetroot -solid "$desktop_colour"
x11_start_window_manager

"$varnu" --demo >"$x11_scratch/varnu.log" 2>&1 &
x11_pids+=($!)
if ! x11_wait_for 15 x11_client_titled "Varnu Demo — Varnu"; then
    cat "$x11_scratch/varnu.log"
    echo "FAILED: the demo window did not appear"
    exit 1
fi
demo=$(x11_client_titled "Varnu Demo — Varnu")
# The first run opens the settings window too; it is not needed here.
if x11_wait_for 10 x11_client_titled "Varnu"; then
    x11_close "$(x11_client_titled "Varnu")"
fi

for screen in left right; do
    left=0
    [ "$screen" = right ] && left=$screen_width
    # Top left, clear of where the overlay appears.
    xdotool windowmove --sync "$demo" $((left + 20)) 10
    xdotool windowactivate --sync "$demo"
    focused=$(xdotool getwindowfocus)
    if [ "$focused" != "$demo" ]; then
        x11_fail "$screen: the demo window did not get the focus to begin with"
    fi

    read -r x y width height < <(x11_geometry "$demo")
    # "Volume Up" is the middle one of the three buttons along the window's top.
    x11_click $((x + width / 2)) $((y + 22)) 1

    expected_x=$((left + (screen_width - overlay_size) / 2))
    expected_y=$((screen_height - overlay_bottom_inset - overlay_size))
    if x11_wait_for 5 bash -c "overlay_at $expected_x $expected_y"; then
        echo "$screen: the overlay is at $expected_x,$expected_y"
        # Its rounded corners show the desktop, not the black of a window without a shape.
        corner=$(pixel $((expected_x + 1)) $((expected_y + 1)))
        if [ "$corner" != "$desktop_colour" ]; then
            x11_fail "$screen: the overlay's corner shows $corner instead of the desktop"
        fi
        x11_screenshot "$pictures/overlay-$screen.png" \
            "${screen_width}x$screen_height+$left+0"
    else
        found=nowhere
        window=$(overlay_window) && found=$(x11_geometry "$window")
        x11_fail "$screen: the overlay is not at $expected_x,$expected_y" \
            "${overlay_size}x$overlay_size but at $found"
    fi
    now_focused=$(xdotool getwindowfocus)
    active=$(xprop -root _NET_ACTIVE_WINDOW | grep -o '0x[0-9a-f]*')
    if [ "$now_focused" = "$focused" ] && [ "$((active))" = "$demo" ]; then
        echo "$screen: the demo window keeps the focus"
    else
        x11_fail "$screen: the overlay took the focus (focus $now_focused, active $active," \
            "demo window $demo)"
    fi
done

if [ "$x11_failures" -ne 0 ]; then
    cat "$x11_scratch/varnu.log"
fi
x11_finish "The overlay appears on the screen under the pointer and leaves the focus alone"
