#!/usr/bin/env bash
# .ci/windows.sh: builds velorin.exe for x86-64 and i686 with mingw-w64, runs the unit tests
# of both under Wine, then renders notes with each .exe and with the Linux build and
# compares them (velorin-compare): every sample within 1 LSB, frequency lists within 1e-9
# relative on 99.9 % of frames.
#
# The Linux build is taken from $VELORIN_LINUX_BUILD (default: build/ under CI, which the
# main CI script has built; build-win-linux/ otherwise, built here when needed).
# VELORIN_WINDOWS_UNIT_TESTS names the builds whose unit tests run (default "w64 w32").
# Exits non-zero when a build, a test or a comparison fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)
step() { echo; echo "--- $* ($(($(date +%s) - started)) s)"; }
jobs=$(nproc)
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

step "packages"
export DEBIAN_FRONTEND=noninteractive
missing=""
for p in mingw-w64 wine wine64 wine32:i386 googletest cmake make g++; do
    dpkg -s "$p" > /dev/null 2>&1 || missing="$missing ${p%:i386}"
done
if [ -n "$missing" ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    bash "$root/tools/apt_update.sh"
    apt-get install -y -qq $missing > /dev/null
fi
bash .ci/enable_i386.sh

linux=${VELORIN_LINUX_BUILD:-}
if [ -z "$linux" ]; then
    if [ "${CI:-}" = true ]; then linux=build; else linux=build-win-linux; fi
fi
logs=$(mktemp -d)
echo "logs in $logs"

# Where 32-bit code runs through the emulator it is some ten times slower: the i686 unit
# tests then leave out the tests labelled "slow" (tests/CMakeLists.txt: the slowest cases,
# the comparisons against straightforward evaluations and the whole-note renders), which
# the end-to-end runs below cover for it.
w32_ctest_args=""
if grep -qs enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    w32_ctest_args="-LE slow"
fi

step "Windows builds"
for arch in w64 w32; do
    toolchain=cmake/mingw-x86_64.cmake
    if [ $arch = w32 ]; then
        toolchain=cmake/mingw-i686.cmake
    fi
    cmake -S . -B build-$arch -DCMAKE_TOOLCHAIN_FILE=$toolchain -DCMAKE_BUILD_TYPE=Release \
        -DVELORIN_GTEST_SOURCE=/usr/src/googletest \
        > "$logs/build-$arch.txt" 2>&1 \
        && cmake --build build-$arch -j"$jobs" >> "$logs/build-$arch.txt" 2>&1 \
        || { tail -n 40 "$logs/build-$arch.txt"; echo "FAILED: build-$arch"; exit 1; }
    if grep -q 'warning:' "$logs/build-$arch.txt"; then
        grep 'warning:' "$logs/build-$arch.txt" | sort -u | head -n 20
    fi
    # Nothing but the system's DLLs and its C runtime: no mingw runtime DLL may be needed.
    for exe in velorin.exe tools/velorin-pitch.exe tools/velorin-frq.exe lib/velorin.dll; do
        dlls=$(x86_64-w64-mingw32-objdump -p build-$arch/$exe | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')
        echo "build-$arch/$exe imports: $dlls"
        for dll in $dlls; do
            case "${dll,,}" in
            kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll) ;;
            *) fail "build-$arch/$exe imports $dll" ;;
            esac
        done
    done
done

step "Linux reference build ($linux)"
if [ ! -f "$linux/CMakeCache.txt" ]; then
    cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release > "$logs/build-linux.txt" 2>&1
fi
cmake --build "$linux" -j"$jobs" --target velorin velorin-compare velorin-demo velorin-frq \
    >> "$logs/build-linux.txt" 2>&1 || { tail -n 40 "$logs/build-linux.txt"; exit 1; }

step "Wine prefix"
export WINEPREFIX
WINEPREFIX=$(mktemp -d)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8   # arguments and file names reach Wine as UTF-8
cleanup() {
    /usr/lib/wine/wineserver -k > /dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
/usr/lib/wine/wine wineboot --init > "$logs/wineboot.txt" 2>&1 || { cat "$logs/wineboot.txt"; exit 1; }
/usr/lib/wine/wineserver -w

# Each build's runner: the Linux program directly, the .exe files through Wine's loader of
# their width.
declare -A runner=([linux]="" [w64]=/usr/lib/wine/wine64 [w32]=/usr/lib/wine/wine)
declare -A program=([linux]="$root/$linux/velorin" [w64]="$root/build-w64/velorin.exe"
    [w32]="$root/build-w32/velorin.exe")
run() { # build, then the program's arguments; in the current folder
    local b=$1
    shift
    ${runner[$b]} "${program[$b]}" "$@"
}
winpath() { # a Windows path for Wine's drive Z:
    local p
    p=$(realpath "$1")
    echo "Z:${p//\//\\}"
}

step "unit tests under Wine"
for arch in ${VELORIN_WINDOWS_UNIT_TESTS-w64 w32}; do
    ctest_args=""
    [ $arch = w32 ] && ctest_args=$w32_ctest_args
    # shellcheck disable=SC2086 # the arguments are words
    if ctest --test-dir build-$arch -j"$jobs" --output-on-failure $ctest_args \
        > "$logs/ctest-$arch.txt" 2>&1; then
        tail -n 12 "$logs/ctest-$arch.txt"
    elif grep -q 'wine client error' "$logs/ctest-$arch.txt" &&
        ctest --test-dir build-$arch --rerun-failed --output-on-failure \
            > "$logs/ctest-$arch-again.txt" 2>&1; then
        # Wine itself lost a test's connection to its server (a server started on demand
        # quits a few seconds after its last client; a test that connects in that moment
        # fails before it has run a line of ours): those tests once more. (A persistent
        # server is no cure: the system processes the first test starts then hold ctest's
        # output pipe open for good.)
        grep -E 'wine client error|Failed' "$logs/ctest-$arch.txt" | head -n 8
        echo "passed when run again:"
        tail -n 12 "$logs/ctest-$arch-again.txt"
    else
        tail -n 60 "$logs/ctest-$arch.txt"
        fail "unit tests of build-$arch"
    fi
done

step "end-to-end runs"
work=$(mktemp -d)
compare="$root/$linux/tools/velorin-compare"
"$root/$linux/tools/velorin-demo" voice "$work/voice.wav" 220 1.2 > /dev/null
bend='+I+c+w/E/T/i/u/4/+AA#3#AFAKAOAKAFAA/7/2/y/2/7AAAFAKAOAK'
# A sample name that a command interpreter would read as syntax ('%TEMP%'
# expanded, '^' an escape, '&' a second command) must reach the decoder as it is.
flac='ä 100%TEMP%^& voice.flac'
hff='5Ckn7r66g96NKxBILfzjVTNHUXAz2CLD'

for b in linux w64 w32; do
    d="$work/$b"
    mkdir -p "$d/analysis" "$d/list" "$d/decoder"
    cp "$work/voice.wav" "$d/analysis/voice.wav"
    cp "$work/voice.wav" "$d/list/voice.wav"
    cp "$work/voice.wav" "$d/decoder/$flac"
    if [ $b != linux ]; then
        # The banner names the pointer width of the build; exit code 99.
        set +e
        run $b > "$d/banner.txt" 2>&1
        rc=$?
        set -e
        want="velorin.exe ver0.05 test for x64"
        [ $b = w32 ] && want="velorin.exe ver0.05 test for x86"
        if [ $rc -eq 99 ] && [ "$(head -n 1 "$d/banner.txt" | tr -d '\r')" = "$want" ]; then
            echo "$b banner: $want, exit code 99"
        else
            fail "$b banner (exit code $rc): $(head -n 1 "$d/banner.txt")"
        fi
    fi
    # 1. No frequency list yet: the analysis runs and writes voice_wav.frq.
    (cd "$d/analysis" && run $b voice.wav note.wav A4 100 "" 0 500 0 0 100 0 '!120' 'AA#10#') \
        > "$d/analysis.txt" 2>&1 || fail "$b render with analysis"
    echo "$b: rendered with analysis"
done

for b in linux w64 w32; do
    d="$work/$b"
    # 2. With the Linux build's frequency list beside the sample: flags, a bend, a volume.
    cp "$work/linux/analysis/voice_wav.frq" "$d/list/voice_wav.frq"
    (cd "$d/list" && run $b voice.wav note.wav C4 120 "g-10B70" 50 800 60 0 90 20 '!120' "$bend") \
        > "$d/list.txt" 2>&1 || fail "$b render with a frequency list"
    # 3. The same note to standard output, and one with a compressed bend.
    (cd "$d/list" && run $b voice.wav - C4 120 "g-10B70" 50 800 60 0 90 20 '!120' "$bend") \
        > "$d/stdout.wav" 2> "$d/stdout.txt" || fail "$b render to standard output"
    (cd "$d/list" && run $b voice.wav hff.wav E4 100 "t20" 0 600 40 0 100 0 '!140*hff2' "$hff") \
        > "$d/hff.txt" 2>&1 || fail "$b render with a compressed bend"
    # 4. A sample that only the decoder can read for the analysis ('G': a fresh list).
    if [ $b = linux ]; then
        printf '#!/bin/sh\n[ "$1 $2" = "--decode --stdout" ] || exit 2\nexec cat "$3"\n' > "$d/decoder.sh"
        chmod +x "$d/decoder.sh"
        dec="$d/decoder.sh"
    else
        dec=$(winpath "$root/build-$b/tests/stand-in-decoder.exe")
    fi
    (cd "$d/decoder" && flacpath="$dec" run $b "$flac" note.wav A4 100 "G" 0 500 0 0 100 0 '!120' 'AA#10#') \
        > "$d/decoder.txt" 2>&1 || fail "$b render through the decoder"
    echo "$b: rendered with a list, to standard output, with a compressed bend, through the decoder"
done

step "comparisons with the Linux build"
check() { # label, then velorin-compare's arguments
    local label=$1
    shift
    local out
    if out=$("$compare" "$@" 2>&1); then
        echo "$label: $out"
    else
        echo "$label: $out"
        fail "$label"
    fi
}
for b in w64 w32; do
    d="$work/$b"
    l="$work/linux"
    check "$b list of the analysis" "$l/analysis/voice_wav.frq" "$d/analysis/voice_wav.frq"
    check "$b note after analysis" "$l/analysis/note.wav" "$d/analysis/note.wav"
    check "$b note with list" "$l/list/note.wav" "$d/list/note.wav"
    check "$b compressed bend" "$l/list/hff.wav" "$d/list/hff.wav"
    check "$b list through decoder" "$l/decoder/$flac.frq" "$d/decoder/$flac.frq"
    check "$b note through decoder" "$l/decoder/note.wav" "$d/decoder/note.wav"
done
for b in linux w64 w32; do
    d="$work/$b"
    if cmp -s "$d/stdout.wav" "$d/list/note.wav"; then
        echo "$b standard output: byte-identical to the file"
    else
        fail "$b standard output differs from the file ($(stat -c %s "$d/stdout.wav") bytes)"
    fi
    check "$b decoder list vs direct list" "$d/analysis/voice_wav.frq" "$d/decoder/$flac.frq" 0 1
done
# --- velorin-frq.exe under Wine ---
step "velorin-frq.exe info under Wine"
# The same report as the Linux build's for the list of the analysis (the first line,
# the path, left out).
"$root/$linux/tools/velorin-frq" info "$work/linux/analysis/voice_wav.frq" 2>&1 | tail -n +2 \
    > "$work/frq-linux.txt" || fail "linux velorin-frq info"
for b in w64 w32; do
    if (cd "$work/linux/analysis" && ${runner[$b]} "$root/build-$b/tools/velorin-frq.exe" info voice_wav.frq) \
        > "$work/frq-$b.raw" 2>&1; then
        tr -d '\r' < "$work/frq-$b.raw" | tail -n +2 > "$work/frq-$b.txt"
        if [ -s "$work/frq-$b.txt" ] && cmp -s "$work/frq-linux.txt" "$work/frq-$b.txt"; then
            echo "$b velorin-frq.exe info: the Linux build's report ($(wc -l < "$work/frq-$b.txt") lines)"
        else
            diff "$work/frq-linux.txt" "$work/frq-$b.txt" | head -n 10 || true
            fail "$b velorin-frq.exe info differs from the Linux build"
        fi
    else
        head -n 5 "$work/frq-$b.raw"
        fail "$b velorin-frq.exe info"
    fi
done
# --- end of velorin-frq.exe under Wine ---

if [ $failures -ne 0 ]; then
    for f in "$work"/*/*.txt; do
        echo "== $f"
        tail -n 5 "$f"
    done
fi
rm -rf "$work"

step "done"
echo "Windows runs: $failures failed"
[ $failures -eq 0 ]
