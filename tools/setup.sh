#!/usr/bin/env bash
# Installs the packages velorin's build, tests and demo need (Debian).
set -euo pipefail
packages="cmake g++ g++-multilib make libgtest-dev googletest libbenchmark-dev locales sox
          flac lame vorbis-tools faad"
# velorin-frq: command line parsing and PNG writing, both header-only.
packages="$packages libcli11-dev libstb-dev"
# The library's Python module (-DVELORIN_PYTHON=ON), its tests and the pkg-config file's users.
packages="$packages pybind11-dev python3-dev python3-numpy python3-pytest python3-venv pkg-config"
bash "$(dirname "$0")/install_packages.sh" $packages
# A locale with a decimal comma, for the command-line tests that need one.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf-\?8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
fi
