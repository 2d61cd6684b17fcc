#!/usr/bin/env bash
# Builds the release packages into dist/:
#   velorin-<version>-windows-x64.zip, velorin-<version>-windows-x86.zip
#       velorin.exe, velorin-pitch.exe, velorin-frq.exe and README.txt
#   velorin-<version>-linux-x86_64.tar.gz
#       bin/velorin, bin/velorin-pitch, bin/velorin-frq and README.txt
# The version is the one in CMakeLists.txt (project(velorin VERSION ...)). Windows
# programs are cross-built with mingw-w64 in build-w64/ and build-w32/ (reused when
# present), the Linux programs in $VELORIN_PACKAGE_LINUX_BUILD (default build-package/).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(velorin VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
jobs=$(nproc)
dist=$(pwd)/dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$dist"

readme() { # system: windows or linux
    local exe="" bin="bin/" example=/opt/velorin-$version/bin/velorin
    if [ "$1" = windows ]; then exe=.exe; bin=""; example='C:\Tools\velorin\velorin.exe'; fi
    cat <<TEXT
velorin $version
================

velorin$exe is a voice resampler for singing-synthesis hosts: the host starts it
once per note, with the sample, the note's pitch, length, flags and pitch bend.

Pointing a host at velorin
  In the host's project settings or preferences, set the resampler to the full
  path of ${bin}velorin$exe, for example $example.
  Nothing needs installing: the programs need no other files beside them.
  velorin writes a frequency list beside every sample it analyses
  (voice.wav -> voice_wav.frq).

Compressed samples
  For .flac, .mp3, .ogg, .aac and .m4a samples, name the decoder in an
  environment variable: flacpath (flac), lamepath (lame), oggdecpath (oggdec),
  faadpath (faad) or nerodecpath, set to the decoder's full path.
  velorin starts it with the sample's path and reads a WAV stream from it.

The tools
  velorin$exe         the resampler itself
  velorin-pitch$exe   decodes a pitch-bend string to points in cents and encodes
                      points back (velorin-pitch --help)
  velorin-frq$exe     the frequency lists of a whole voicebank:
                        velorin-frq analyse FOLDER   lists for every sample
                        velorin-frq info FILE        summary and octave jumps
                        velorin-frq fix FILE         repair octave jumps in place
                        velorin-frq plot FILE        SVG: wave, spectrogram, pitch
                        velorin-frq report FOLDER    one HTML page of all samples
                      (velorin-frq --help, velorin-frq analyse --help, ...)
TEXT
}

build_windows() { # arch (w64 or w32), toolchain
    local b=build-$1
    if [ ! -f "$b/CMakeCache.txt" ]; then
        cmake -S . -B "$b" -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE=Release -DVELORIN_TESTS=OFF > /dev/null
    fi
    cmake --build "$b" -j"$jobs" --target velorin velorin-pitch velorin-frq > /dev/null
}

package_windows() { # arch, name
    local b=build-$1 dir="$stage/velorin-$version-$2"
    rm -rf "$dir"
    cmake --install "$b" --prefix "$dir" --component programs > /dev/null
    mv "$dir"/bin/*.exe "$dir"/
    rmdir "$dir/bin"
    readme windows | sed 's/$/\r/' > "$dir/README.txt"
    rm -f "$dist/velorin-$version-$2.zip"
    (cd "$stage" && zip -q -r "$dist/velorin-$version-$2.zip" "velorin-$version-$2")
    echo "dist/velorin-$version-$2.zip"
}

build_windows w64 cmake/mingw-x86_64.cmake
package_windows w64 windows-x64
build_windows w32 cmake/mingw-i686.cmake
package_windows w32 windows-x86

linux=${VELORIN_PACKAGE_LINUX_BUILD:-build-package}
if [ ! -f "$linux/CMakeCache.txt" ]; then
    cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release -DVELORIN_TESTS=OFF > /dev/null
fi
cmake --build "$linux" -j"$jobs" --target velorin velorin-pitch velorin-frq > /dev/null
dir="$stage/velorin-$version-linux-x86_64"
cmake --install "$linux" --prefix "$dir" --component programs --strip > /dev/null
readme linux > "$dir/README.txt"
tar -C "$stage" -czf "$dist/velorin-$version-linux-x86_64.tar.gz" "velorin-$version-linux-x86_64"
echo "dist/velorin-$version-linux-x86_64.tar.gz"
