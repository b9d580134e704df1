#!/usr/bin/env bash
# The benchmarks, in one run: builds what they need, makes one fresh 64-bit
# Wine prefix (the 32-bit program runs under WOW64), and prints one table of
# medians with the ratio of each to its floor:
#   start and exit, silent setup, silent uninstall, 10,000-file removal,
#   language file, CRC-32.
# VNX_BENCH_RUNS (default 5) and VNX_BENCH_REMOVAL_RUNS (default 3) set the
# number of runs; VNX_BENCH_PARTS picks parts by letter (s i r l c, default
# all). Figures come from an emulated, shared machine: expect them to vary.
# build-bench/bench/removal_profile.exe (built here too) splits the list
# removal's time into its calls, by hand: wine removal_profile.exe C:\x 20 3
# With parts s and i, scripts/bench-requests.sh then counts the requests that
# setup, uninstall and their floors make to the Wine server.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build-bench}
runs=${VNX_BENCH_RUNS:-5}
removal_runs=${VNX_BENCH_REMOVAL_RUNS:-3}
parts=${VNX_BENCH_PARTS:-sirlc}

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVNX_WERROR=ON -DVNX_BENCH=ON -DVNX_TESTS=OFF >/dev/null
targets=(vnx_bench)
# Built only where a static zlib for the cross compiler is found.
build_targets=$(cmake --build "$build" --target help)
if grep -qw crc32_bench <<<"$build_targets"; then
  targets+=(crc32_bench)
fi
cmake --build "$build" --target "${targets[@]}" removal_profile -j"$(nproc)" >/dev/null

export WINEPREFIX="$build/bench-prefix"
export WINEDEBUG=-all
# No menu entries on the host for the links setup makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe="
wineserver -k 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
rm -rf "$WINEPREFIX"
echo "Making the benchmark prefix $WINEPREFIX ..." >&2
WINEARCH=win64 wineboot -i >/dev/null 2>&1
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
bash "$top/scripts/make-prefixes.sh" --mark "$WINEPREFIX"
# The profile's Desktop and the like link into the host's home folder: make
# them folders of the prefix, so that setup's links land there.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
# One server and one set of service processes for the whole run.
wineserver -p
setsid wine "$build/bench/bench_keepalive.exe" </dev/null >/dev/null 2>&1 &
wine cmd /c exit 0 </dev/null >/dev/null 2>&1

win() { echo "Z:$1" | tr / '\\'; }

echo "Benchmark of $(git -C "$top" log -1 --format='%h %cs' 2>/dev/null || echo 'uninstall')," \
     "$(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine: $(nproc) cores, Linux $(uname -r), $(wine --version), 64-bit prefix (WOW64);" \
     "load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs: $runs (removal: $removal_runs); ratio = median / floor median"
echo
program_parts=$(echo "$parts" | tr -cd 'sirl')
wine "$build/bench/vnx_bench.exe" "$(win "$build/uninstall.exe")" \
     "$(win "$build/bench/bench_empty_program.exe")" "$(win "$build/bench/bench_replay_writes.exe")" \
     "$runs" "$removal_runs" "${program_parts:--}"

if [[ $parts == *c* ]]; then
  if [ -f "$build/bench/crc32_bench.exe" ]; then
    wine "$build/bench/crc32_bench.exe" --row
  else
    echo "CRC-32: skipped (no static zlib for the cross compiler)"
  fi
fi
echo
echo "Load average at the end $(cut -d' ' -f1-3 /proc/loadavg)."
echo "Setup's registry writes and files: $build/bench-prefix/drive_c/vnxbench/setup-changes.txt"
# The same runs counted in requests to the Wine server, which load does not change.
if [[ $parts == *s* && $parts == *i* ]]; then
  echo
  VNX_BUILD_DIR="$build" bash "$top/scripts/bench-requests.sh"
fi
