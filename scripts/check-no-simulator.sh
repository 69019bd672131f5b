#!/usr/bin/env bash
# check-no-simulator.sh NM TOOL LIBRARY: fails when the program TOOL holds any
# symbol that LIBRARY (the simulator library) defines. Only strong definitions
# count: inline functions and template instances (weak, W/V) may be shared
# with the core library, a function or object of the simulator's own may not.
set -eu
nm=$1 tool=$2 library=$3
defined() { "$nm" -g --defined-only "$1" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' | sort -u; }
simulator=$(defined "$library")
count=$(wc -l <<<"$simulator")
[ -n "$simulator" ] || { echo "no symbol found in $library"; exit 1; }
found=$(comm -12 <(echo "$simulator") <("$nm" --defined-only "$tool" | awk 'NF == 3 { print $3 }' | sort -u))
if [ -n "$found" ]; then
  echo "$(basename "$tool") holds simulator symbols:"
  echo "$found" | head -n 20
  exit 1
fi
echo "$(basename "$tool"): none of the $count symbols of $(basename "$library")"
