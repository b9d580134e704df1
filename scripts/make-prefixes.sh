#!/usr/bin/env bash
# Makes the two test prefixes fresh: win32 (a 32-bit Windows) and win64 (a
# 64-bit Windows where the 32-bit program runs under WOW64), both with the
# "null" graphics driver, and keeps their wineservers running.
# With --stop, ends the wineservers instead. With --mark, only marks the
# prefix FOLDER as one that tests may wipe (scripts/bench.sh makes its own).
set -euo pipefail

# The test binaries refuse to run where this mark is missing (see
# tests/support/throwaway_prefix.cpp): a file at the root of drive C:, written
# from here without starting Windows, where no test and no Windows puts one.
mark_prefix() {
  echo "Throwaway Wine prefix of the uninstall tests: anything here may go." \
    >"$1/drive_c/vnx-throwaway-prefix.txt"
}

stop=0
case "${1:-}" in
  --stop) stop=1; shift ;;
  --mark) mark_prefix "${2:?usage: make-prefixes.sh --mark PREFIX}"; exit 0 ;;
esac
root=${1:?usage: make-prefixes.sh [--stop] FOLDER [KEEPALIVE.EXE]}
keepalive=${2:-}
# Wine needs an absolute prefix path.
root=$(realpath -m "$root")

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A tiny volume of each prefix's own (the two run at the same time), drive
# T:, that tests can fill to the last byte. Only linked when the mount works,
# so that no test ever fills the real disk.
release_small_disk() {
  if mountpoint -q "$1" 2>/dev/null; then umount "$1" 2>/dev/null || true; fi
}

# Makes one prefix fresh; the two are made at the same time.
make_prefix() {
  local arch=$1
  export WINEPREFIX="$root/$arch"
  local disk="$root/fulldisk-$arch"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  WINEARCH=$arch wineboot -i >/dev/null 2>&1
  wineserver -w
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "make-prefixes: $arch was not made" >&2; return 1; }
  mark_prefix "$WINEPREFIX"
  release_small_disk "$disk"
  mkdir -p "$disk"
  if mount -t tmpfs -o size=64k tmpfs "$disk" 2>/dev/null; then
    ln -sfn "$disk" "$WINEPREFIX/dosdevices/t:"
  else
    echo "make-prefixes: no small volume for $arch (mount failed); full-disk tests skip" >&2
  fi
  # One server for the whole run: a process start then costs a fraction of a second.
  wineserver -p
  if [ -n "$keepalive" ]; then
    setsid wine "$keepalive" </dev/null >/dev/null 2>&1 &
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  fi
}

if [ $stop -eq 1 ]; then
  for arch in win32 win64; do
    WINEPREFIX="$root/$arch" wineserver -k 2>/dev/null || true
    release_small_disk "$root/fulldisk-$arch"
  done
  exit 0
fi
mkdir -p "$root"
pids=()
for arch in win32 win64; do
  make_prefix "$arch" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
