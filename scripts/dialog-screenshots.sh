#!/usr/bin/env bash
# Pictures of the program's three dialogs: builds a small viewer, makes a
# prefix with Wine's normal graphics driver (the test prefixes draw nothing)
# and grabs each dialog from a virtual desktop under Xvfb.
# Usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER]}" && pwd)
out=${2:-$build/screenshots}
program="$build/uninstall.exe"
[ -f "$program" ] || { echo "no $program: build first" >&2; exit 1; }
mkdir -p "$out"

viewer="$build/dialog_viewer.exe"
i686-w64-mingw32-g++-posix -std=c++17 -O2 -municode -mwindows -static -DUNICODE -D_UNICODE \
    -o "$viewer" "$top/scripts/dialog_viewer.cpp" -lshell32

export WINEPREFIX="$build/prefixes/shots"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEARCH=win32 wineboot -i >/dev/null 2>&1
    wineserver -w
fi

winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
for dialog in SETUPDLG SETUPCONTEXTITEMS DONEDLG; do
    xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
        "wine explorer /desktop=shot,1024x768 '$(winpath "$viewer")' '$(winpath "$program")' $dialog \
         >/dev/null 2>&1 & sleep 12; import -window root '$out/$dialog.png'; wineserver -k"
    echo "$out/$dialog.png"
done
