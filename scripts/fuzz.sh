#!/usr/bin/env bash
# Runs the parser fuzzer for as many inputs as asked, in one Wine prefix, and
# prints the inputs per parser per second. The same seed gives the same inputs.
#
#   scripts/fuzz.sh [SEED] [INPUTS_PER_PARSER] [GTEST_FILTER]
#
# SEED defaults to the current time, INPUTS_PER_PARSER to 100000, the filter
# to every parser (e.g. 'FuzzOptions.*', 'FuzzListFile.*'). VNX_PREFIX picks
# the prefix (win32, the default, or win64), VNX_BUILD_DIR the build folder.
# An input that crashes, hangs or breaks a check is saved under
# <build>/tests/fuzz/findings/ (or VNX_FUZZ_FINDINGS, a Windows path) and named
# in the output; keep it under tests/fuzz/regressions/<parser>/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build}
seed=${1:-$(date +%s)}
inputs=${2:-100000}
filter=${3:-Fuzz*}
prefix=${VNX_PREFIX:-win32}

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVNX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_fuzz uninstall vnx_keepalive

# Prefixes from before the test binaries checked for the mark are made again.
if [ ! -f "$build/prefixes/$prefix/drive_c/vnx-throwaway-prefix.txt" ]; then
  bash "$top/scripts/make-prefixes.sh" "$build/prefixes" "$build/tests/vnx_keepalive.exe"
  trap 'bash "$top/scripts/make-prefixes.sh" --stop "$build/prefixes"' EXIT
fi

echo "fuzz: seed $seed, $inputs inputs per parser, prefix $prefix, filter $filter"
start=$(date +%s)
VNX_PREFIX=$prefix VNX_PREFIX_ROOT="$build/prefixes" VNX_PROGRAM="$build/uninstall.exe" \
VNX_FUZZ_SEED=$seed VNX_FUZZ_INPUTS=$inputs \
  "$top/scripts/wine-run.sh" "$build/tests/fuzz/test_fuzz.exe" \
  --gtest_filter="$filter:-*.Regressions" --gtest_brief=1
echo "fuzz: done in $(( $(date +%s) - start )) s"
