#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, as root
# and without a terminal. Does nothing when everything is present; fails
# loudly when something cannot be installed.
set -euo pipefail

packages=(
  cmake make
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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  for p in "${packages[@]}"; do
    is_installed "$p" || { say "package $p could not be installed"; exit 1; }
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

install_packages
if ! can_run_i386; then
  fetch_emulator
  register_emulator
  can_run_i386 || { say "32-bit Wine does not start, even through $EMU"; exit 1; }
fi
