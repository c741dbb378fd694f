#!/bin/sh
# Starts `varnu --demo` on a virtual X display, lets it run, stops it with SIGTERM and expects
# a clean exit. Skips (77) where xvfb-run is missing.
# Usage: run-demo-under-xvfb.sh VARNU [SECONDS]
set -u
varnu=$1
seconds=${2:-4}
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run is not installed: skipped"
    exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
# Nothing of the user's session leaks in or out.
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
# libxkbcommon-x11 hands strndup buffers that are not NUL-terminated when Qt connects to an X
# server; the sanitizer's strict string checks would stop the run inside that library.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
fi

xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
    "$1" --demo > "$3/out.log" 2>&1 &
    pid=$!
    sleep "$2"
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid"
        echo "varnu --demo ended by itself with status $?"
        exit 1
    fi
    kill -TERM "$pid"
    wait "$pid"
' run-demo "$varnu" "$seconds" "$scratch"
status=$?
cat "$scratch/out.log"
if [ "$status" -ne 0 ]; then
    echo "varnu --demo did not stop cleanly (status $status)"
    exit 1
fi
echo "varnu --demo ran for ${seconds}s and stopped cleanly"
