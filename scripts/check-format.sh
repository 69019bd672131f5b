#!/usr/bin/env bash
# Checks the C++ sources against .clang-format (clang-format 14); prints each
# deviation and exits 1 when there is one. Table-driven tests (*_test.cpp and
# tests/) keep their hand-made case tables and are not checked.
# With --fix, reformats the files instead.
set -eu
cd "$(dirname "$0")/.."
mode=(--dry-run -Werror)
[ "${1:-}" = --fix ] && mode=(-i)
git ls-files -z '*.cpp' '*.h' ':!:*_test.cpp' ':!:tests/' | xargs -0 clang-format "${mode[@]}"
