#!/usr/bin/env bash
# Builds the program and its tests and runs every test binary in a fresh
# 32-bit and a fresh 64-bit Wine prefix. Ends with ctest's summary and each
# entry's share of its timeout; under CI=true an entry that passed but used
# more than 75 % of its timeout fails the run, before it can time out.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build}

bash "$top/scripts/install-deps.sh"

# Includes under uninstall/ point down the layers only.
bash "$top/scripts/check-layers.sh"

cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVNX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

bash "$top/scripts/make-prefixes.sh" "$build/prefixes" "$build/tests/vnx_keepalive.exe"
trap 'bash "$top/scripts/make-prefixes.sh" --stop "$build/prefixes"' EXIT

cd "$build"
status=0
rm -f "$build/ctest-times.xml"
ctest -j2 --output-on-failure --output-junit "$build/ctest-times.xml" "$@" || status=$?
limit=()
[ "${CI:-}" = true ] && limit=(75)
if [ -f "$build/ctest-times.xml" ]; then
  python3 "$top/scripts/test-times.py" "$build" "$build/ctest-times.xml" "${limit[@]}" ||
    { [ $status -ne 0 ] || status=1; }
fi
echo "test.sh: $((SECONDS / 60)) min $((SECONDS % 60)) s in all"
exit $status
