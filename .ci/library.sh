#!/usr/bin/env bash
# .ci/library.sh BUILD: libvelorin as its users take it. The native build BUILD gets the
# Python module (for a virtual environment made with Debian's python3, which has numpy
# and pytest) and is installed with cmake --install into a prefix, the module into the
# environment (--component python). Then:
# - examples/render_note.c is built with pkg-config (shared, and static) and with the
#   CMake package (both), and each writes the program's note byte for byte;
# - the Python tests (pytest) and examples/phrase.py run on the installed module.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "${1:-build}")
jobs=$(nproc)
bash tools/install_packages.sh pybind11-dev python3-dev python3-numpy python3-pytest python3-venv \
    pkg-config
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
venv=$build/python-venv
[ -x "$venv/bin/python" ] || /usr/bin/python3 -m venv --system-site-packages "$venv"

site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
cmake -S . -B "$build" -DVELORIN_PYTHON=ON -DPython3_EXECUTABLE="$venv/bin/python" \
    -DVELORIN_PYTHON_INSTALL_DIR="$site" -DCMAKE_INSTALL_PREFIX="$prefix" > "$work/build.log" 2>&1 &&
    cmake --build "$build" -j"$jobs" >> "$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log"; exit 1; }
if grep -q 'warning:' "$work/build.log"; then grep 'warning:' "$work/build.log" | sort -u; exit 1; fi
cmake --install "$build" > /dev/null
cmake --install "$build" --component python > /dev/null
echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"

cd "$work"
"$build/tools/velorin-demo" voice voice.wav 220 1.2 > /dev/null
"$build/velorin" voice.wav program.wav A3 100 g-10 0 600 50 0 100 0 > /dev/null 2>&1
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046 # pkg-config's words
cc -std=c89 -Wall -Wextra -Werror "$root/examples/render_note.c" $(pkg-config --cflags --libs velorin) \
    -o render_note_pc
# shellcheck disable=SC2046
cc -std=c89 -Wall -Wextra -Werror "$root/examples/render_note.c" \
    $(pkg-config --static --cflags --libs velorin) -static -o render_note_pc_static
cmake -S "$root/examples" -B examples -DCMAKE_PREFIX_PATH="$prefix" > examples.log 2>&1 &&
    cmake --build examples -j"$jobs" >> examples.log 2>&1 || { cat examples.log; exit 1; }
for exe in ./render_note_pc ./render_note_pc_static examples/render_note examples/render_note_static; do
    LD_LIBRARY_PATH=$prefix/lib $exe voice.wav note.wav A3 600 g-10 > report.txt 2>&1
    cmp program.wav note.wav || { echo "FAILED: $exe's note differs from the program's"; exit 1; }
    echo "$exe: the program's note ($(grep -c . report.txt) report lines)"
done
if ldd ./render_note_pc_static > /dev/null 2>&1; then echo "FAILED: not static"; exit 1; fi

# The module the environment imports is the one installed there.
module=$("$venv/bin/python" -c 'import velorin; print(velorin.__file__)')
case "$module" in "$venv"/*) ;; *) echo "FAILED: velorin imported from $module"; exit 1 ;; esac
echo "Python module: ${module#"$venv"/}"
set +e
VELORIN_BIN_DIR=$build "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python"
code=$?
set -e
# pytest's 5 means that no test ran: a failure here too.
[ $code -eq 0 ] || { echo "FAILED: pytest exit code $code"; exit 1; }
"$venv/bin/python" "$root/examples/phrase.py" voice.wav phrase.wav
