#!/usr/bin/env bash
# Builds crc32_bench and runs it in a fresh 64-bit Wine prefix of the build
# folder (the 32-bit program then runs under WOW64). Prints the figures; the
# same measurement is the CRC-32 row of scripts/bench.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build-bench}

cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVNX_WERROR=ON -DVNX_BENCH=ON >/dev/null
cmake --build "$build" --target crc32_bench -j"$(nproc)"

bash "$top/scripts/make-prefixes.sh" "$build/prefixes"
trap 'bash "$top/scripts/make-prefixes.sh" --stop "$build/prefixes"' EXIT
VNX_PREFIX=win64 VNX_PREFIX_ROOT="$build/prefixes" \
    bash "$top/scripts/wine-run.sh" "$build/bench/crc32_bench.exe"
