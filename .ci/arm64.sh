#!/usr/bin/env bash
# Builds the arm64 Linux programs and tests with the cross compiler, runs the
# suite less its slowest cases under qemu-aarch64 and requires the output sums of the x86-64
# build at each of its widths (neon, scalar).
#   bash .ci/arm64.sh [X86_BUILD_DIR]   (default build/, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
x86=${1:-build}
out=build-arm64
jobs=$(nproc)

bash .ci/enable_arm64.sh
cmake -S . -B $out -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
      -DVELORIN_WERROR=ON -DVELORIN_GTEST_SOURCE=/usr/src/googletest > $out.log 2>&1 ||
    { cat $out.log; exit 1; }
cmake --build $out -j"$jobs" >> $out.log 2>&1 || { tail -50 $out.log; exit 1; }
# The only warnings allowed are the linker's about GoogleTest's getaddrinfo in
# a static program (the tests never use the network).
if grep 'warning:' $out.log | grep -v "Using 'getaddrinfo' in statically linked" | grep .; then
    exit 1
fi

# Nothing of ours contracts a multiply and an add: the C runtime's sine, cosine
# and power are the only functions of the program with fused instructions.
fused=$(aarch64-linux-gnu-objdump -d --no-show-raw-insn $out/velorin |
        awk '/^[0-9a-f]+ <.*>:$/ { fn = $2 } /\t(fmadd|fmsub|fnmadd|fnmsub|fmla|fmls)\t/ { print fn }' |
        sort -u | grep -Ev '^<(__sin|__cos|__sincos|__ieee754_pow)>:$' || true)
if [ -n "$fused" ]; then
    echo "arm64: fused multiply-adds in $fused" >&2
    exit 1
fi

want=$(bash tools/check_outputs.sh "$x86" | tail -1)
echo "x86-64: $want"
# The suite at the processor's width (neon); the plain width is the x86
# builds' own code and is checked here by its outputs. Under the emulator the
# slowest cases are left out by their label, as in the i386 stage: the output
# sums below compare every kind of output with x86-64's.
log=$(mktemp)
ctest --test-dir $out -j"$jobs" --output-on-failure -LE slow > "$log" 2>&1 ||
    { cat "$log"; rm -f "$log"; exit 1; }
grep 'tests passed' "$log"
rm -f "$log"
for width in neon scalar; do
    got=$(VELORIN_SIMD=$width bash tools/check_outputs.sh $out | tail -1)
    echo "arm64 $width: $got"
    if [ "$got" != "$want" ]; then
        echo "arm64: the outputs at $width differ from x86-64's" >&2
        exit 1
    fi
done

# The cross compiler displaced g++-multilib (Debian's packages exclude each
# other): the machine gets its 32-bit x86 build back.
bash tools/install_packages.sh g++-multilib
