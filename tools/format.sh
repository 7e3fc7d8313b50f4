#!/usr/bin/env bash
# Formats the C++ sources with the project's style; with --check, only reports.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# New files too, before they are added.
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    clang-format --dry-run --Werror "${files[@]}"
else
    clang-format -i "${files[@]}"
fi
