#!/usr/bin/env bash
# Counts the requests that one silent setup, one silent uninstall and their
# floors make to the Wine server, by kind. Each registry, window and file call
# of the program is one or more such requests, so the counts profile a run
# call by call, and unlike its time they do not vary with the machine's load.
# Run after scripts/bench.sh, whose prefix and recorded floors it uses.
#   VNX_BUILD_DIR (default build-bench); VNX_REQUESTS_KEEP=1 keeps the trace;
#   VNX_REQUESTS_DETAIL=1 also lists each run's most frequent requests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build-bench}
export WINEPREFIX="$build/bench-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe="
scratch="$WINEPREFIX/drive_c/vnxbench"
if [ ! -f "$scratch/setup-writes.txt" ] || [ ! -f "$scratch/uninstall-files.txt" ]; then
  echo "bench-requests: run scripts/bench.sh first (no recorded floors in $scratch)" >&2
  exit 2
fi
install="$WINEPREFIX/drive_c/Program Files (x86)/Velnox"
[ -d "$WINEPREFIX/drive_c/Program Files (x86)" ] || install="$WINEPREFIX/drive_c/Program Files/Velnox"

# The demo installation, as the benchmark lays it out.
lay_out() {
  rm -rf "$install"
  mkdir -p "$install"
  cp "$build/uninstall.exe" "$install/"
  local list=$'uninstall.exe\r\nUninstall.lst\r\n' name
  for name in Velnox.exe vnxext.dll vnxext64.dll Velnox.chm Vnx.txt license.txt; do
    printf 'stand-in for %s\r\n' "$name" >"$install/$name"
    list+="$name"$'\r\n'
  done
  list+=$'vnxnew.dat\r\nzipnew.dat\r\n'
  printf '%s' "$list" >"$install/Uninstall.lst"
}

trace=$(mktemp)
cleanup() {
  wineserver -k 2>/dev/null || true
  [ "${VNX_REQUESTS_KEEP:-0}" = 1 ] && echo "trace kept: $trace" >&2 || rm -f "$trace"
}
trap cleanup EXIT
wineserver -k 2>/dev/null || true
# A server in the foreground writes every request to its standard error.
wineserver -f -p -d1 2>"$trace" &
sleep 1
# As in the timed runs: the service processes and the desktop stay up. It
# must be up before the first count, which takes the first thread that
# starts after it begins as the run's own.
setsid wine "$build/bench/bench_keepalive.exe" </dev/null >/dev/null 2>&1 &
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
sleep 2

# Runs one program (named first, started from the folder given next) and
# prints its main thread's requests: all, then registry, window and file ones.
count() {
  local label=$1 folder=$2
  shift 2
  local from
  from=$(wc -l <"$trace")
  (cd "$folder" && wine "$@" </dev/null >/dev/null 2>&1) || true
  sleep 1
  tail -n +"$((from + 1))" "$trace" | awk '
    tid == "" && /^[0-9a-f]+: init_first_thread\(\) = 0/ {
      match($0, /tid=[0-9a-f]+/); tid = substr($0, RSTART + 4, RLENGTH - 4)
    }
    tid != "" && index($0, tid ": ") == 1 && $2 ~ /^[a-z_]+\(/ && $0 !~ /\) = / {
      name = $2; sub(/\(.*/, "", name); all++; each[name]++
      if (name ~ /key/) registry++
      else if (name ~ /window|class|user_object|winstation|thread_input|message|hook|atom|clipboard|desktop|queue|region|parent|focus|active|foreground|caret|cursor/) windows++
      else if (name ~ /file|fd|directory|mapping|volume|async|ioctl|flush|unix_name/) files++
    }
    END {
      printf "%6d %6d %6d %6d\n", all, registry, windows, files
      if (detail) {
        printf "%s: its most frequent requests\n", label >"/dev/stderr"
        for (name in each) printf "%8d %s\n", each[name], name | "sort -rn | head -15 >&2"
      }
    }' detail="${VNX_REQUESTS_DETAIL:-}" label="$label"
}

win() { echo "Z:$1" | tr / '\\'; }
floor="$scratch/start/replay_writes.exe"
[ -f "$floor" ] || cp "$build/bench/bench_replay_writes.exe" "$floor"

# Floors first, on the clean prefix the benchmark left: the setup floor makes
# the state a setup makes, which the removal then takes apart.
lay_out
setup_floor=$(count "setup floor" "$scratch" "$floor" 'C:\vnxbench\setup-writes.txt' 'C:\vnxbench\setup-files.txt')
uninstall_run=$(count uninstall "$install" ./uninstall.exe /S)
for _ in $(seq 30); do [ -e "$install/uninstall.exe" ] || break; sleep 1; done
lay_out
setup_run=$(count setup "$install" ./uninstall.exe /setup /S /noexplorer)
uninstall_floor=$(count "uninstall floor" "$scratch" "$floor" 'C:\vnxbench\uninstall-deletions.txt' \
  'C:\vnxbench\uninstall-files.txt')
rm -rf "$install"
empty=$(count "empty program" "$scratch" "$scratch/start/empty_with_imports.exe")

echo "Requests to the Wine server, main thread ($(date -u '+%Y-%m-%d %H:%M UTC'))"
printf '%-44s %6s %6s %6s %6s\n' "" all registry window file
printf '%-44s %s\n' "empty program with the same DLLs" "$empty"
printf '%-44s %s\n' "silent setup: /setup /S /noexplorer" "$setup_run"
printf '%-44s %s\n' "  its floor" "$setup_floor"
printf '%-44s %s\n' "silent uninstall of the demo installation" "$uninstall_run"
printf '%-44s %s\n' "  its floor" "$uninstall_floor"
