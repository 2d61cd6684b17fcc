#!/usr/bin/env bash
# Checks that every C++ source of the repository is formatted with its
# .clang-format (the same clang-format as Debian 12's, version 14). Prints the
# files that differ and exits non-zero when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_packages.sh clang-format
clang-format --version
unformatted=$(git ls-files '*.cpp' '*.h' | while read -r f; do
    clang-format --dry-run --Werror "$f" > /dev/null 2>&1 || echo "$f"
done)
if [ -n "$unformatted" ]; then
    echo "not formatted (run clang-format -i on them):"
    echo "$unformatted"
    exit 1
fi
echo "every source file is formatted"
