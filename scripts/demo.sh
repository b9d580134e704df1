#!/usr/bin/env bash
# Sets the archiver up on a fresh Windows: builds uninstall.exe when needed,
# makes a sandbox 64-bit prefix, lays out an installation folder as the
# archiver's installer leaves it, runs "uninstall.exe /setup" there
# (interactively with a display, silently without) and prints what changed
# in the registry (both views) and on disk; then uninstalls silently, waits
# for the cleanup batch file and prints what still differs from before setup.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build-demo}
program="$build/uninstall.exe"

if [ ! -f "$program" ]; then
  bash "$top/scripts/install-deps.sh"
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target uninstall -j"$(nproc)"
fi

export WINEPREFIX="$build/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
echo "Making the sandbox prefix $WINEPREFIX ..."
WINEARCH=win64 wineboot -i >/dev/null 2>&1
wineserver -w
# The prefix's Desktop and the like link into the home folder: make them
# folders of the sandbox, so links land there.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
if [ -z "${DISPLAY:-}" ]; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi

install_dir="$WINEPREFIX/drive_c/Program Files (x86)/Velnox"
mkdir -p "$install_dir"
cp "$program" "$install_dir/uninstall.exe"
# Stand-ins for the archiver's own files: only their names matter here.
for name in Velnox.exe vnxext.dll vnxext64.dll Velnox.chm; do
  printf 'stand-in for %s\r\n' "$name" > "$install_dir/$name"
done
printf 'Velnox archiver\r\n' > "$install_dir/Vnx.txt"
printf 'Licence text of the Velnox archiver.\r\n' > "$install_dir/license.txt"
# The installer's list also names the new-file templates that setup writes.
( cd "$install_dir" && ls -1 && echo vnxnew.dat && echo zipnew.dat ) | sed 's/$/\r/' \
  > "$install_dir/Uninstall.lst"

snapshot() {
  local out=$1
  : > "$out"
  for view in 32 64; do
    for root in 'HKLM\Software' 'HKCU\Software' 'HKCR'; do
      local file
      file=$(mktemp)
      wine reg export "$root" 'Z:'"$(echo "$file" | tr / '\\')" /y /reg:$view >/dev/null 2>&1 || true
      # One line per value, prefixed by the view and key it belongs to.
      iconv -f UTF-16LE -t UTF-8 "$file" 2>/dev/null | tr -d '\r' | awk -v view="$view" '
        /^\[/ { key = $0; next }
        NF    { print view "-bit " key " " $0 }' >> "$out"
      rm -f "$file"
    done
  done
  ( cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | sed 's/^/disk /' ) >> "$out"
  sort -o "$out" "$out"
}

before=$(mktemp); after=$(mktemp)
snapshot "$before"
win_dir='C:\Program Files (x86)\Velnox'
if [ -n "${DISPLAY:-}" ]; then
  echo "Running setup: answer the dialogs."
  (cd "$install_dir" && wine uninstall.exe /setup) || true
else
  echo "No display: running setup silently."
  (cd "$install_dir" && wine uninstall.exe /setup /S) || true
fi
wineserver -w
snapshot "$after"

echo
echo "Installation folder: $win_dir"
echo "Added (registry: view, key, value; disk: path under C:):"
comm -13 "$before" "$after" | sed 's/^/  + /'
echo "Removed or changed before:"
comm -23 "$before" "$after" | sed 's/^/  - /'

echo
echo "Uninstalling silently ..."
(cd "$install_dir" && wine uninstall.exe /S) || true
# The cleanup batch file runs in cmd.exe after the program has ended.
wineserver -w
removed=$(mktemp)
snapshot "$removed"
echo "Compared with before setup:"
install_rel="./Program Files (x86)/Velnox"
if [ -e "$install_dir" ]; then
  echo "  the installation folder is still there"
else
  echo "  the installation folder is gone, as uninstall intends"
fi
left=$(comm -3 "$before" "$removed" | sed 's/^\t//' | grep -v -F "disk $install_rel" || true)
if [ -z "$left" ]; then
  echo "  registry (both views) and the rest of the disk are as they were"
else
  echo "  still different (+ only now, - only before):"
  comm -13 "$before" "$removed" | grep -v -F "disk $install_rel" | sed 's/^/  + /' || true
  comm -23 "$before" "$removed" | grep -v -F "disk $install_rel" | sed 's/^/  - /' || true
fi
rm -f "$before" "$after" "$removed"
