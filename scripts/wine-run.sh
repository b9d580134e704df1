#!/usr/bin/env bash
# Runs a Windows program in one of the two test prefixes of the build folder.
# VNX_PREFIX selects it (win32 or win64); VNX_PREFIX_ROOT is the folder that
# holds the prefixes (set by ctest from the build configuration).
set -euo pipefail
prefix=${VNX_PREFIX:-win64}
root=${VNX_PREFIX_ROOT:?VNX_PREFIX_ROOT is not set}
export WINEPREFIX="$root/$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
