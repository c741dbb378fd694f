#!/usr/bin/env bash
# Starts `varnu --demo` on a virtual X display as a new user does: the settings window of the
# first start opens beside the demo window, both whole on the screen, not one over the other.
# Lets it run, stops it with SIGTERM and expects a clean exit. Skips (77) where a program is
# missing.
# Usage: run-demo-under-xvfb.sh VARNU [SECONDS]
set -u
here=$(dirname "$0")
source "$here/x11-session.sh"
x11_require Xvfb xdotool xwininfo
varnu=$1
seconds=${2:-4}
readonly screen_width=1280 screen_height=800

x11_isolate
x11_start_server "${screen_width}x$screen_height"
started=$(date +%s)
"$varnu" --demo >"$x11_scratch/out.log" 2>&1 &
pid=$!

# The shown window whose title matches, as "X Y WIDTH HEIGHT".
shown_window() {
    x11_geometry "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)"
}
export -f shown_window x11_geometry
if x11_wait_for 10 bash -c 'shown_window "^Varnu Demo" && shown_window "^Varnu\$"'; then
    read -r dx dy dw dh < <(shown_window "^Varnu Demo")
    read -r sx sy sw sh < <(shown_window "^Varnu\$")
    if [ "$dx" -lt $((sx + sw)) ] && [ "$sx" -lt $((dx + dw)) ] &&
        [ "$dy" -lt $((sy + sh)) ] && [ "$sy" -lt $((dy + dh)) ]; then
        x11_fail "the settings window ($sx $sy $sw $sh) covers the demo window ($dx $dy $dw $dh)"
    elif [ "$dx" -lt 0 ] || [ "$sx" -lt 0 ] || [ $((dx + dw)) -gt "$screen_width" ] ||
        [ $((sx + sw)) -gt "$screen_width" ] || [ $((dy + dh)) -gt "$screen_height" ] ||
        [ $((sy + sh)) -gt "$screen_height" ]; then
        x11_fail "a window leaves the screen: demo $dx $dy $dw $dh, settings $sx $sy $sw $sh"
    else
        echo "the settings window opens beside the demo window"
    fi
else
    x11_fail "the demo window and the settings window do not both show"
fi

sleep $((seconds - ($(date +%s) - started))) 2>/dev/null
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    x11_fail "varnu --demo ended by itself with status $?"
else
    kill -TERM "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || x11_fail "varnu --demo did not stop cleanly (status $status)"
fi
cat "$x11_scratch/out.log"
x11_finish "varnu --demo opened its windows side by side, ran for ${seconds}s and stopped cleanly"
