#!/usr/bin/env bash
# The install script against a stand-in apt-get that fails as a syncing
# mirror makes it fail: index files of the wrong size, then "held broken
# packages" from amd64/i386 version skew. Each row runs the script's package
# step in a subshell and checks its exit code, the apt calls and its message.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_STATE/calls"
case " $* " in
  *" update "*)
    n=$(cat "$FAKE_STATE/updates" 2>/dev/null || echo 0)
    echo $((n + 1)) >"$FAKE_STATE/updates"
    if ((n < FAKE_UPDATE_FAILS)); then
      echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  *" install "*)
    case "$FAKE_INSTALL:$*" in
      ok:*|skew:*" -t "*) touch "$FAKE_STATE/installed" ;;
      *) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
    esac ;;
esac
FAKE
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
[ -e "$FAKE_STATE/installed" ] && printf 'install ok installed'
exit 0
FAKE
cat >"$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
FAKE
cat >"$work/bin/id" <<'FAKE'
#!/usr/bin/env bash
echo 0
FAKE
chmod +x "$work/bin"/*

passed=0 failed=0
# row NAME UPDATE_FAILS INSTALL EXPECTED_RC UPDATES_EXPECTED INSTALLS_EXPECTED MESSAGE_PATTERN
row() {
  local name=$1 fails=$2 install=$3 want_rc=$4 want_updates=$5 want_installs=$6 pattern=$7
  local state=$work/$name; mkdir -p "$state"
  [ "$install" = present ] && touch "$state/installed"
  local out rc
  out=$(PATH="$work/bin:$PATH" FAKE_STATE=$state FAKE_UPDATE_FAILS=$fails FAKE_INSTALL=$install \
        VNX_APT_TRIES=3 VNX_APT_PAUSE=0 bash -c 'source "$1"; install_packages' _ \
        "$top/scripts/install-deps.sh" 2>&1)
  rc=$?
  local updates installs
  updates=$(grep -c ' update' "$state/calls" 2>/dev/null); updates=${updates:-0}
  installs=$(grep -c ' install ' "$state/calls" 2>/dev/null); installs=${installs:-0}
  if [ "$rc" -eq "$want_rc" ] && [ "$updates" -eq "$want_updates" ] &&
     [ "$installs" -eq "$want_installs" ] && grep -qE -- "$pattern" <<<"$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "row $name: exit $rc (want $want_rc), $updates updates (want $want_updates)," \
         "$installs installs (want $want_installs), output:"
    echo "$out" | sed 's/^/    /'
  fi
}

row nothing-missing 0 present 0 0 0 '^$'
row sync-then-clean 2 ok      0 3 1 'failed \(try 2 of 3\)'
row sync-all-skew   9 skew    0 3 2 'base release \(bookworm\)'
row sync-all-broken 9 broken  1 3 2 '^install-deps: FAILED: apt-get update and install failed.*-t bookworm'
row clean-broken    0 broken  1 1 2 '^install-deps: FAILED: apt-get install of .* failed, also with -t bookworm'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
