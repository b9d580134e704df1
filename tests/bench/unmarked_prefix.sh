#!/usr/bin/env bash
# A test binary started in a Wine prefix without the test command's mark must
# refuse before any test runs: a non-zero exit and the reason on stderr.
# The prefix is the 32-bit test prefix seen without its mark: a copy of its
# registry, and a drive C: of links to its folders but not to the mark. The
# real prefix is only read; the stand-in goes again at the end.
set -u
binary=${1:?usage: unmarked_prefix.sh TEST_BINARY}
root=${VNX_PREFIX_ROOT:?VNX_PREFIX_ROOT is not set}
real=$root/win32
export WINEPREFIX=$root/unmarked
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c"
cp "$real"/*.reg "$WINEPREFIX"/
# Never an update of the prefix: it would write through the links.
echo disable >"$WINEPREFIX/.update-timestamp"
ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
ln -s / "$WINEPREFIX/dosdevices/z:"
for entry in "$real"/drive_c/*; do
  if [ -d "$entry" ]; then ln -s "$entry" "$WINEPREFIX/drive_c/"; fi
done

out=$(mktemp) err=$(mktemp)
wine "$binary" >"$out" 2>"$err" </dev/null
code=$?
wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"

verdict=0
if [ "$code" -eq 0 ]; then echo "unmarked prefix: $binary ran (exit 0)"; verdict=1; fi
if ! grep -q 'throwaway Wine prefix made by the test command' "$err"; then
  echo "unmarked prefix: no reason given on stderr"; verdict=1
fi
if grep -q 'RUN\|PASSED\|FAILED' "$out"; then
  echo "unmarked prefix: tests ran"; verdict=1
fi
if [ $verdict -ne 0 ]; then
  echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"
else
  echo "unmarked prefix: refused with exit $code: $(head -c 200 "$err")"
fi
rm -f "$out" "$err"
exit $verdict
