#!/usr/bin/env bash
# Pictures of the program's three dialogs, drawn by dialog_viewer (a target of
# the normal build) through the program's own dialog procedures, as a first
# setup shows them. A prefix of its own keeps Wine's normal graphics driver
# (the test prefixes draw nothing); each dialog is grabbed from a virtual
# desktop under Xvfb once the viewer says it is painted. With a language
# file, the dialogs are translated, scaled and mirrored as it says.
# Usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER [LANGUAGE_FILE]]
# VNX_SHOT_TIMEOUT: seconds to wait for each dialog (default 120).
set -euo pipefail
fail() { echo "dialog-screenshots: $*" >&2; exit 1; }

top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || fail "usage: dialog-screenshots.sh BUILD_FOLDER [OUTPUT_FOLDER [LANGUAGE_FILE]]"
for tool in cmake i686-w64-mingw32-g++-posix wine wineboot wineserver xvfb-run import identify convert; do
    command -v "$tool" >/dev/null ||
        fail "$tool is missing: run bash scripts/install-deps.sh (as root; it installs the toolchain, wine, xvfb and imagemagick)"
done
# A fresh clone: the build folder is configured as the test command does it.
if [ ! -f "$1/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "cmake could not configure $1"
fi
build=$(cd "$1" && pwd)
out=${2:-$build/screenshots}
language=""
if [ $# -ge 3 ]; then
    [ -f "$3" ] || fail "no language file $3"
    language=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
fi
timeout=${VNX_SHOT_TIMEOUT:-120}

cmake --build "$build" --target uninstall dialog_viewer -j2 >/dev/null ||
    fail "the build of uninstall and dialog_viewer failed: cmake --build $build --target dialog_viewer"
program="$build/uninstall.exe"
viewer="$build/dialog_viewer.exe"
[ -f "$program" ] && [ -f "$viewer" ] || fail "the build left no $program or $viewer"
mkdir -p "$out" "$build/prefixes"

export WINEPREFIX="$build/prefixes/shots"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the picture prefix $WINEPREFIX (once)"
    WINEARCH=win32 wineboot -i >"$build/prefixes/shots.log" 2>&1 || true
    wineserver -w || true
    [ -f "$WINEPREFIX/system.reg" ] ||
        fail "wineboot made no prefix in $WINEPREFIX; its output is in $build/prefixes/shots.log"
fi
# The first run's choices: no settings from an earlier picture or setup.
wine reg delete 'HKCU\Software\Velnox' /f >/dev/null 2>&1 || true
wineserver -w || true

winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
ready="$out/.dialog-shown"
for dialog in SETUPDLG SETUPCONTEXTITEMS DONEDLG; do
    picture="$out/$dialog${language:+-$(basename "${language%.*}")}.png"
    rm -f "$ready" "$picture"
    log="$out/.$dialog.log"
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        wine explorer /desktop=shot,1024x768 "$1" "$2" "$3" "$4" ${5:+"$5"} >"$6" 2>&1 &
        for ((i = 0; i < '"$timeout"' * 10; i++)); do
            [ -f "$7" ] && break
            sleep 0.1
        done
        [ -f "$7" ] && [ ! -s "$7" ] && import -window root "$8"
        wineserver -k' _ \
        "$(winpath "$viewer")" "$(winpath "$program")" "$dialog" "$(winpath "$ready")" \
        "${language:+$(winpath "$language")}" "$log" "$ready" "$picture" || true
    [ -f "$ready" ] || fail "$dialog was not shown within $timeout s (VNX_SHOT_TIMEOUT); Wine's output is in $log"
    [ ! -s "$ready" ] || fail "$dialog: the viewer says: $(cat "$ready")"
    [ -f "$picture" ] || fail "$dialog: no picture was taken (import failed; see $log)"
    # A desktop with no dialog on it has a handful of colours.
    colours=$(identify -format %k "$picture")
    [ "$colours" -gt 16 ] || fail "$dialog: the picture $picture is blank ($colours colours)"
    # The dialog alone, without the desktop around it.
    convert "$picture" -trim +repage "$picture" || fail "$dialog: convert could not trim $picture"
    rm -f "$ready" "$log"
    echo "$picture"
done
