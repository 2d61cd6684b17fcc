#!/usr/bin/env bash
# Makes sure this machine runs 64-bit ARM Linux programs: the arm64 build's
# tests, and the programs they start, go through the user-mode emulator
# qemu-aarch64, registered with the kernel's binfmt_misc. Installs the cross
# compiler too. Run as root. Does nothing more when arm64 programs already run.
set -euo pipefail

# Debian 12's cross compilers and its g++-multilib (the i386 build's) exclude
# each other: installing one removes the other. .ci/arm64.sh gives the
# machine its g++-multilib back when it is done.
export DEBIAN_FRONTEND=noninteractive
need=()
command -v aarch64-linux-gnu-g++ > /dev/null || need+=(g++-aarch64-linux-gnu)
[ -x /usr/bin/qemu-aarch64-static ] || need+=(qemu-user-static)
if [ ${#need[@]} -gt 0 ]; then
    bash "$(dirname "$0")/../tools/apt_update.sh"
    apt-get install -y -qq --no-install-recommends "${need[@]}" > /dev/null
fi

# A tiny static arm64 program: exits 0 when the kernel can start it.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'int main(void) { return 0; }\n' > "$probe/p.c"
aarch64-linux-gnu-gcc -static -o "$probe/p" "$probe/p.c"
if "$probe/p" 2> /dev/null; then
    exit 0
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
# A stale entry (another emulator, or one opened at registration) is replaced.
[ -e "$binfmt/qemu-aarch64" ] && echo -1 > "$binfmt/qemu-aarch64"
# ELF, 64-bit, little-endian, executable or shared object, machine 183 (AArch64).
magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-aarch64:M::$magic:$mask:/usr/bin/qemu-aarch64-static:F" > "$binfmt/register"

if ! "$probe/p"; then
    echo "enable_arm64: arm64 programs still do not run" >&2
    exit 1
fi
