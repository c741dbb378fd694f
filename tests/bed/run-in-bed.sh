#!/bin/sh
# Runs a test program in the emulated-hardware bed: under umockdev's preload library, with a
# folder of its own for FUSE mounts, which are unmounted afterwards even when the program died
# before it could unmount them itself. Answers the program's exit status.
set -u
VARNU_BED_DIR=$(mktemp -d /tmp/varnu-bed-XXXXXX)
export VARNU_BED_DIR
# The sanitizers' runtime cannot come first when umockdev's library is preloaded.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
umockdev-wrapper "$@"
status=$?
grep -o " $VARNU_BED_DIR/[^ ]*" /proc/mounts | while read -r mountpoint; do
    fusermount3 -u -z "$mountpoint" 2>/dev/null || umount -l "$mountpoint"
done
rm -rf "$VARNU_BED_DIR"
exit "$status"
