#!/bin/sh
# Starts Corvane as root, which a migration needs to keep owners and the local
# permission fix needs to change ACLs: directly from a root shell, otherwise
# through pkexec, whose polkit action lets the program open its windows on the
# caller's X display.
set -e
program=/opt/corvane/corvane
if [ "$(id -u)" -eq 0 ]; then
    exec "$program" "$@"
fi
if ! command -v pkexec >/dev/null 2>&1; then
    echo "corvane: pkexec is not installed; start $program from a root shell instead" >&2
    exit 1
fi
# pkexec passes DISPLAY and XAUTHORITY on; the root process needs the cookie to
# open a window, and sessions that keep it in the default place do not set it.
if [ -z "${XAUTHORITY:-}" ] && [ -r "$HOME/.Xauthority" ]; then
    XAUTHORITY="$HOME/.Xauthority"
    export XAUTHORITY
fi
exec pkexec "$program" "$@"
