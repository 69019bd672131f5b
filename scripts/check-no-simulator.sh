#!/usr/bin/env bash
# check-no-simulator.sh NM TOOL SIMLIB CORELIB: fails when the program TOOL
# holds a symbol of the simulator: one of namespace ob310 that SIMLIB (the
# simulator library) defines and CORELIB (the core library) does not. Inline
# functions, template instances and type information that both libraries
# carry (weak on ELF, COMDAT on COFF) are the core's and may be in the tool.
set -eu
nm=$1 tool=$2 simlib=$3 corelib=$4
defined() { "$nm" -g --defined-only "$1" 2>/dev/null | awk 'NF == 3 { print $3 }' | grep '5ob310' | sort -u; }
simulator=$(comm -23 <(defined "$simlib") <(defined "$corelib"))
[ -n "$simulator" ] || { echo "no simulator symbol found in $simlib"; exit 1; }
count=$(wc -l <<<"$simulator")
found=$(comm -12 <(echo "$simulator") <("$nm" --defined-only "$tool" | awk 'NF == 3 { print $3 }' | sort -u))
if [ -n "$found" ]; then
  echo "$(basename "$tool") holds simulator symbols:"
  echo "$found" | head -n 20
  exit 1
fi
echo "$(basename "$tool"): none of the $count symbols of $(basename "$simlib")"
