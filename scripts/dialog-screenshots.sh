#!/usr/bin/env bash
# Pictures of the program's three dialogs: builds a small viewer, makes a
# prefix with Wine's normal graphics driver (the test prefixes draw nothing)
# and grabs each dialog from a virtual desktop under Xvfb. With a language
# file, the dialogs are translated, scaled and mirrored as it says.
# Usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER [LANGUAGE_FILE]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER]}" && pwd)
out=${2:-$build/screenshots}
language=${3:+$(cd "$(dirname "$3")" && pwd)/$(basename "$3")}
program="$build/uninstall.exe"
core="$build/libuninstall_core.a"
[ -f "$program" ] && [ -f "$core" ] || { echo "no $program: build first" >&2; exit 1; }
mkdir -p "$out"

viewer="$build/dialog_viewer.exe"
i686-w64-mingw32-g++-posix -std=c++17 -O2 -municode -mwindows -static -DUNICODE -D_UNICODE \
    -DWINVER=0x0501 -D_WIN32_WINNT=0x0501 -I"$top/uninstall" \
    -o "$viewer" "$top/scripts/dialog_viewer.cpp" "$core" \
    -lshell32 -lole32 -luuid -lcomctl32 -ladvapi32 -luser32 -lgdi32

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
        "wine explorer /desktop=shot,1024x768 '$(winpath "$viewer")' '$(winpath "$program")' $dialog ${language:+"'$(winpath "$language")'"} \
         >/dev/null 2>&1 & sleep 12; import -window root '$out/$dialog.png'; wineserver -k"
    echo "$out/$dialog.png"
done
