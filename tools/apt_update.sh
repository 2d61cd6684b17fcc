#!/usr/bin/env bash
# Refreshes the package lists (as root, or through sudo), trying again when a
# mirror answers badly (a mirror in the middle of a sync serves index files of
# the wrong size). After the last try it goes on with the lists it has: the
# install that follows fails on its own if a package cannot be found.
set -uo pipefail
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for attempt in 1 2; do
    if $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq; then exit 0; fi
    echo "apt-get update failed (try $attempt of 2)" >&2
    [ $attempt -lt 2 ] && sleep 15
done
echo "apt-get update: going on with the package lists at hand" >&2
exit 0
