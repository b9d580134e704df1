#!/usr/bin/env bash
# Sets the archiver up on a fresh Windows: builds uninstall.exe when needed,
# makes a sandbox 64-bit prefix, lays out an installation folder as the
# archiver's installer leaves it, runs "uninstall.exe /setup" there
# (interactively with a display, silently without) and prints what changed
# in the registry (both views) and on disk; then uninstalls silently, waits
# for the cleanup batch file and prints what still differs from before setup.
# Each step leads with a summary; the full lists go to files it names.
# Option --win32: the same on a 32-bit Windows.
set -euo pipefail
arch=win64
case "${1:-}" in
  --win32) arch=win32 ;;
  "") ;;
  *) echo "usage: demo.sh [--win32]" >&2; exit 2 ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VNX_BUILD_DIR:-$top/build-demo}
program="$build/uninstall.exe"

if [ ! -f "$program" ]; then
  bash "$top/scripts/install-deps.sh"
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target uninstall -j"$(nproc)"
fi

export WINEPREFIX="$build/demo-prefix-$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
echo "Making the sandbox prefix $WINEPREFIX ..."
WINEARCH=$arch wineboot -i >/dev/null 2>&1
wineserver -w
# The prefix's Desktop and the like link into the home folder: make them
# folders of the sandbox, so links land there.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
if [ -z "${DISPLAY:-}" ]; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi

if [ "$arch" = win64 ]; then
  program_files='Program Files (x86)'; views="32 64"
else
  program_files='Program Files'; views="32"
fi
install_dir="$WINEPREFIX/drive_c/$program_files/Velnox"
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
  for view in $views; do
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

before=$build/demo-$arch-before.txt; after=$build/demo-$arch-after-setup.txt
snapshot "$before"
win_dir="C:\\$program_files\\Velnox"
if [ -n "${DISPLAY:-}" ]; then
  echo "Running setup: answer the dialogs."
  (cd "$install_dir" && wine uninstall.exe /setup) || true
else
  echo "No display: running setup silently."
  (cd "$install_dir" && wine uninstall.exe /setup /S) || true
fi
wineserver -w
snapshot "$after"

# What a person wants to know first, read from the two snapshots.
summary() {
  local before=$1 after=$2 added
  added=$(mktemp)
  comm -13 "$before" "$after" > "$added"
  echo "Extensions now opening in the archiver, by class and whose they were:"
  # HKCR's extension keys are shared by the views: the 32-bit lines say all.
  grep -E '^32-bit \[HKEY_CLASSES_ROOT\\\.[^\\]*\] @="Velnox' "$added" |
  while IFS= read -r line; do
    key=${line#*[}; key=${key%%]*}
    old=$(grep -F "32-bit [$key] @=" "$before" | head -1 | sed 's/^[^@]*@=//' || true)
    printf '%s\t%s\t%s\n' "${line##*@=}" "${old:-no class}" "${key#HKEY_CLASSES_ROOT\\}"
  done | sort | awk -F'\t' '
    { k = $1 " (was " $2 "):"; if (!(k in list)) order[++n] = k; list[k] = list[k] " " $3; count[k]++ }
    END { for (i = 1; i <= n; i++) printf "  %s %d:%s\n", order[i], count[order[i]], list[order[i]] }' |
    fold -s -w 100 | sed '2,$s/^\([^ ]\)/      \1/'  || true
  local view dll where=()
  for view in $views; do
    dll=$(grep -iE "^$view-bit \[HKEY_CLASSES_ROOT\\\\CLSID\\\\[^]]*\\\\InprocServer32\] @=.*vnxext" "$added" |
          head -1 | sed 's/.*\\\\\(vnxext[^"\\]*\)".*/\1/' || true)
    if [ -n "$dll" ]; then where+=("$dll in the $view-bit view"); fi
  done
  local joined; joined=$(printf '%s, ' "${where[@]}"); joined=${joined%, }
  echo "Shell extension: ${joined:-not registered}"
  echo "Links: $(grep -c '^disk .*\.lnk$' "$added" || true) new" \
       "($(grep '^disk .*\.lnk$' "$added" | sed 's|/[^/]*$||; s|^disk \./||' |
           sort | uniq -c | awk '{n=$1; $1=""; printf "%s%d in%s", sep, n, $0; sep="; "}'))"
  echo "New-file templates: $(grep -Ec '^disk .*/(vnxnew|zipnew)\.dat$' "$added" || true) files," \
       "entries for $(grep -E '^32-bit \[HKEY_CLASSES_ROOT\\[^]]*\\ShellNew\] "FileName"=".*(vnxnew|zipnew)\.dat' "$added" |
                      sed 's/^32-bit \[HKEY_CLASSES_ROOT\\\([^\\]*\)\\.*/\1/' | tr '\n' ' ')"
  local name
  name=$(grep -F 'Uninstall\Velnox archiver] "DisplayName"=' "$after" | head -1 | sed 's/^[^=]*=//' || true)
  echo "Installed-programs entry: ${name:-none}"
  rm -f "$added"
}

full_setup=$build/demo-$arch-setup-changes.txt
{ comm -13 "$before" "$after" | sed 's/^/+ /'; comm -23 "$before" "$after" | sed 's/^/- /'; } > "$full_setup"
echo
echo "Installation folder: $win_dir"
summary "$before" "$after"
echo "All $(wc -l < "$full_setup") changed registry values and files: $full_setup"

echo
echo "Uninstalling silently ..."
(cd "$install_dir" && wine uninstall.exe /S) || true
# The cleanup batch file runs in cmd.exe after the program has ended.
wineserver -w
removed=$build/demo-$arch-after-uninstall.txt
snapshot "$removed"
echo "Compared with before setup:"
install_rel="./$program_files/Velnox"
if [ -e "$install_dir" ]; then
  echo "  the installation folder is still there"
else
  echo "  the installation folder is gone, as uninstall intends"
fi
left=$(comm -3 "$before" "$removed" | sed 's/^\t//' | grep -v -F "disk $install_rel" || true)
if [ -z "$left" ]; then
  echo "  registry (views: $views) and the rest of the disk are as they were"
else
  echo "  still different (+ only now, - only before):"
  comm -13 "$before" "$removed" | grep -v -F "disk $install_rel" | sed 's/^/  + /' || true
  comm -23 "$before" "$removed" | grep -v -F "disk $install_rel" | sed 's/^/  - /' || true
fi
echo "Snapshots: $before, $after, $removed"
