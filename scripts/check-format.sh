#!/usr/bin/env bash
# Checks the C and C++ sources, tests included, against .clang-format (clang-format
# 14); prints each deviation and exits 1 when there is one.
# With --fix, reformats the files instead.
set -eu
cd "$(dirname "$0")/.."
mode=(--dry-run -Werror)
[ "${1:-}" = --fix ] && mode=(-i)
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format "${mode[@]}"
