#!/bin/sh
# Run by root with HOME in a home root does not own, varnu refuses to start and writes nothing
# there. Skips (77) when not run as root.
# Usage: run-as-root-in-a-users-home.sh VARNU
set -u
varnu=$1
if [ "$(id -u)" -ne 0 ]; then
    echo "not run as root: skipped"
    exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime" "$scratch/home"
chown nobody "$scratch/home"
output=$(HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen \
    timeout 10 "$varnu" --demo 2>&1)
status=$?
echo "$output"
if [ "$status" -ne 1 ] || ! echo "$output" | grep -q "not root's own"; then
    echo "FAILED: varnu started as root in another user's home (status $status)"
    exit 1
fi
if [ -n "$(ls -A "$scratch/home")" ]; then
    echo "FAILED: varnu left files in the user's home"
    exit 1
fi
echo "varnu refuses to run as root in another user's home"
