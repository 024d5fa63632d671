#!/bin/sh
# Runs a command with a /run/systemd of its own (a fresh tmpfs in a private mount
# namespace), so that tests can own the journal socket without touching the host's.
#   with-private-journal.sh CMD [ARG...]
set -eu

if [ "${1:-}" != --in-private-namespace ]; then
    exec unshare --mount --propagation private "$0" --in-private-namespace "$@"
fi
shift

if [ -d /run/systemd ]; then
    mount -t tmpfs -o mode=0755 kestrova-journal /run/systemd
else
    # No systemd directory to cover: cover /run as a whole so that creating one
    # does not reach the host.
    mkdir -p /run
    mount -t tmpfs -o mode=0755 kestrova-journal /run
    mkdir /run/systemd
fi

exec "$@"
