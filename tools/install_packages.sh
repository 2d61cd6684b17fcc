#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed (as root, or through sudo). Used by the setup script and the CI
# stages, each with its own list.
set -euo pipefail
missing=""
for p in "$@"; do
    dpkg -s "$p" > /dev/null 2>&1 || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
bash "$(dirname "$0")/apt_update.sh"
$sudo apt-get install -y -qq $missing > /dev/null
