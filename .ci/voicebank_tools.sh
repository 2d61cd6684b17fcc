#!/usr/bin/env bash
# .ci/voicebank_tools.sh: velorin-frq end to end on a generated voicebank: analyse, a
# second run that analyses nothing, the report page loaded in a real browser (Chromium,
# headless) with every sample's row and picture, every plot parsed as XML; the demo
# phrase without clicks; then the release packages built and their contents checked.
# The Linux build is taken from $VELORIN_LINUX_BUILD (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

bash tools/install_packages.sh chromium libxml2-utils zip unzip mingw-w64

build=${VELORIN_LINUX_BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target velorin velorin-frq velorin-demo > /dev/null
frq="$root/$build/tools/velorin-frq"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A voicebank of 30 generated samples (spaces and non-ASCII letters in some names).
VELORIN_DEMO="$build/tools/velorin-demo" bash tools/make_voicebank.sh "$work/bank" 30
mapfile -d '' samples < <(cd "$work/bank" && find . -name '*.wav' -printf '%P\0' | sort -z)
"$frq" analyse "$work/bank" > "$work/analyse.txt" 2> /dev/null || fail "velorin-frq analyse"
head -n 1 "$work/analyse.txt"
second=$("$frq" analyse "$work/bank" 2> /dev/null | head -n 1 || true)
case "$second" in "nothing to analyse"*) echo "second run: $second" ;; *) fail "second run: $second" ;; esac

# The report in Chromium: one row and one picture per sample, each sample named.
"$frq" report "$work/bank" -o "$work/report.html" > /dev/null || fail "velorin-frq report"
timeout 120 chromium --headless --no-sandbox --disable-gpu --dump-dom "file://$work/report.html" \
    > "$work/dom.html" 2> "$work/chromium.txt" || { tail -n 5 "$work/chromium.txt"; fail "chromium"; }
rows=$(grep -o '<tr class="sample' "$work/dom.html" | wc -l)
pictures=$(grep -o '<svg' "$work/dom.html" | wc -l)
images=$(grep -o '<image' "$work/dom.html" | wc -l)
echo "report in Chromium: ${#samples[@]} samples, $rows rows, $pictures pictures, $images spectrograms"
[ "$rows" -eq "${#samples[@]}" ] || fail "report rows: $rows of ${#samples[@]}"
[ "$pictures" -eq "${#samples[@]}" ] || fail "report pictures: $pictures of ${#samples[@]}"
[ "$images" -eq "${#samples[@]}" ] || fail "report spectrograms: $images of ${#samples[@]}"
for s in "${samples[@]}"; do
    grep -qF "<td class=\"name\">$s</td>" "$work/dom.html" || fail "no row for $s"
done

# Every plot is well-formed XML.
mkdir -p "$work/plots"
k=0
for s in "${samples[@]}"; do
    k=$((k + 1))
    "$frq" plot "$work/bank/$s" -o "$work/plots/$k.svg" > /dev/null || fail "plot $s"
    xmllint --noout "$work/plots/$k.svg" || fail "plot of $s is not well-formed XML"
done
echo "plots: $k written, each parsed by xmllint"

# The demo: velorin's own notes joined without a click (its join checks every joint).
bash tools/demo.sh > "$work/demo.txt" 2>&1 || { tail -n 12 "$work/demo.txt"; fail "demo"; }
tail -n 1 "$work/demo.txt"
sed 's/^/  /' out/demo/joins.txt
grep -q '<tr class="sample' out/demo/report.html || fail "demo report page"

# Release packages: exactly the programs and the text.
VELORIN_PACKAGE_LINUX_BUILD="$build" bash tools/package.sh
version=$(sed -n 's/^project(velorin VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
for arch in x64 x86; do
    z="dist/velorin-$version-windows-$arch.zip"
    got=$(unzip -Z1 "$z" | grep -v '/$' | sort | tr '\n' ' ')
    want="velorin-$version-windows-$arch/README.txt velorin-$version-windows-$arch/velorin-frq.exe velorin-$version-windows-$arch/velorin-pitch.exe velorin-$version-windows-$arch/velorin.exe "
    [ "$got" = "$want" ] && echo "$z: $got" || fail "$z holds: $got"
done
t="dist/velorin-$version-linux-x86_64.tar.gz"
got=$(tar -tzf "$t" | grep -v '/$' | sort | tr '\n' ' ')
d="velorin-$version-linux-x86_64"
want="$d/README.txt $d/bin/velorin $d/bin/velorin-frq $d/bin/velorin-pitch "
[ "$got" = "$want" ] && echo "$t: $got" || fail "$t holds: $got"
mkdir -p "$work/unpacked"
tar -C "$work/unpacked" -xzf "$t"
"$work/unpacked/$d/bin/velorin-frq" info "$work/bank/${samples[0]}" > /dev/null \
    || fail "the packaged velorin-frq does not run"

echo "voicebank tools: $failures failed"
[ $failures -eq 0 ]
