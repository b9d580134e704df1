#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, as root
# and without a terminal. Does nothing when everything is present; fails
# loudly when something cannot be installed.
set -euo pipefail

packages=(
  cmake make python3
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  googletest
  libz-mingw-w64-dev
  wine wine64 wine32:i386
  xvfb xauth imagemagick
)

say() { echo "install-deps: $*" >&2; }

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# A mirror in the middle of a sync fails some index files ("File has
# unexpected size ... Mirror sync in progress?"). The update is tried a few
# times; when some indexes still fail, the install goes on with what there is.
APT_TRIES=${VNX_APT_TRIES:-3}
APT_PAUSE=${VNX_APT_PAUSE:-20}

update_indexes() {
  local try
  for ((try = 1; try <= APT_TRIES; try++)); do
    apt-get update -qq && return 0
    if ((try < APT_TRIES)); then
      say "apt-get update failed (try $try of $APT_TRIES); again in ${APT_PAUSE}s"
      sleep "$APT_PAUSE"
    fi
  done
  say "apt-get update failed $APT_TRIES times; installing from the indexes there are"
  return 1
}

# The base release of this Debian (bookworm on Debian 12).
base_release() {
  local codename=
  [ -r /etc/os-release ] && codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  echo "${codename:-bookworm}"
}

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    is_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    say "missing packages (${missing[*]}) and not root"
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  local updated=1
  update_indexes || updated=0
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Without one architecture's security index, amd64 libraries are offered
    # newer builds than their i386 twins, which must match ("held broken
    # packages"): the base release's builds match on both.
    local release; release=$(base_release)
    say "install failed; trying once more with the base release ($release) as target"
    if ! apt-get install -y -qq --no-install-recommends -t "$release" "${missing[@]}" >/dev/null; then
      if ((updated)); then
        say "FAILED: apt-get install of ${missing[*]} failed, also with -t $release; see apt's messages above"
      else
        say "FAILED: apt-get update and install failed (a mirror may be syncing); try again in a few minutes, or run: apt-get install -t $release ${missing[*]}"
      fi
      exit 1
    fi
  fi
  for p in "${packages[@]}"; do
    is_installed "$p" || { say "FAILED: package $p could not be installed"; exit 1; }
  done
}

# The 32-bit half of Wine is a 32-bit Linux program. Some kernels are booted
# without 32-bit support; there a user-mode emulator runs it instead. The
# emulator of Debian 12 hangs in Wine's loader, the one of Debian 13 works.
EMU_DIR=${VNX_EMU_DIR:-/usr/local/lib/vnx-bench}
EMU=$EMU_DIR/qemu-i386

can_run_i386() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

fetch_emulator() {
  [ -x "$EMU" ] && return 0
  local work; work=$(mktemp -d)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" > "$work/sources.list"
  local opts=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=/dev/null
              -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
              -o APT::Architectures::=amd64 -o Acquire::Check-Valid-Until=false
              -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq
  (cd "$work" && apt-get "${opts[@]}" download qemu-user >/dev/null)
  dpkg -x "$work"/qemu-user_*.deb "$work/root"
  mkdir -p "$EMU_DIR"
  install -m 0755 "$work/root/usr/bin/qemu-i386" "$EMU"
  rm -rf "$work"
}

register_emulator() {
  local bm=/proc/sys/fs/binfmt_misc
  [ -w "$bm/register" ] || mount -t binfmt_misc binfmt_misc "$bm"
  [ -e "$bm/qemu-i386" ] && echo -1 > "$bm/qemu-i386"
  # i386 ELF executables; F opens the emulator now, so it works in any root.
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$EMU"':FP' > "$bm/register"
}

main() {
  install_packages
  if ! can_run_i386; then
    fetch_emulator
    register_emulator
    can_run_i386 || { say "32-bit Wine does not start, even through $EMU"; exit 1; }
  fi
}

# Sourced (by its test), it only defines its functions.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  main
fi
