#!/usr/bin/env bash
# Makes sure this machine can run 32-bit x86 Linux programs: the i386 test programs and
# the 32-bit half of Wine, which runs the i686 Windows build.
#
# Some virtual machines run a kernel that refuses 32-bit programs ("Exec format error").
# There, the 32-bit programs go through the user-mode emulator qemu-i386, registered with
# the kernel's binfmt_misc. It comes from Debian's backports: the bookworm release of the
# emulator does not implement MAP_FIXED_NOREPLACE, which Wine's loader needs.
# Run as root. Does nothing when 32-bit programs already run.
set -euo pipefail

loader=/lib/ld-linux.so.2      # a 32-bit program that every i386 multiarch install has
runs_32bit() { "$loader" --version > /dev/null 2>&1; }

if [ ! -x "$loader" ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    bash "$(dirname "$0")/../tools/apt_update.sh"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libc6:i386 > /dev/null
fi
if runs_32bit; then
    exit 0
fi
echo "enable_i386: this kernel does not run 32-bit programs; using qemu-i386 through binfmt_misc"

backports=/etc/apt/sources.list.d/velorin-bookworm-backports.sources
if ! /usr/bin/qemu-i386-static --version 2>/dev/null | grep -Eq 'version ([89]|[1-9][0-9])\.'; then
    if [ ! -f "$backports" ] && ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
        cat > "$backports" << 'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    bash "$(dirname "$0")/../tools/apt_update.sh"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -t bookworm-backports qemu-user-static > /dev/null
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
# A stale entry (an older emulator opened at registration, flag F) is replaced.
[ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
# ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"

if ! runs_32bit; then
    echo "enable_i386: 32-bit programs still do not run" >&2
    exit 1
fi
