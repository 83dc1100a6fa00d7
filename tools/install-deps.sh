#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, and only the
# ones missing: on a machine that has them all it changes nothing and needs
# no network. Other steps may name more packages as arguments:
#   tools/install-deps.sh [extra-package...]
set -euo pipefail

packages=(
  cmake make g++ g++-multilib
  googletest libgtest-dev
  libsqlite3-dev libsqlite3-dev:i386
  mingw-w64
  wine wine64 wine32:i386 qemu-user-static
  python3
  iproute2 tshark
  samba samba-common-bin
  clang-14 clang-format-14 libclang-rt-14-dev libbenchmark-dev
  tmux libreadline-dev libreadline-dev:i386
  nlohmann-json3-dev
  libcpp-httplib-dev pkgconf
  chromium
  "$@"
)
# The browser tests' Node.js and npm: Debian's, unless the machine has them
# already from elsewhere (a nodejs package that carries its own npm
# conflicts with Debian's npm).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  as_root=()
fi

# A package is present only when fully installed. A name without an
# architecture means the machine's own one (or "all"): with multiarch,
# NAME alone would also match the i386 copy.
native=$(dpkg --print-architecture)
installed() {
  local name=$1 status
  case "$name" in
    *:*) status=$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true) ;;
    *) status=$(dpkg-query -W -f='${db:Status-Status}' "$name:$native" 2>/dev/null ||
                dpkg-query -W -f='${db:Status-Status}' "$name:all" 2>/dev/null || true) ;;
  esac
  [ "$status" = installed ]
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
need_i386=0
for p in "${missing[@]}"; do
  case "$p" in *:i386) need_i386=1 ;; esac
done
if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update
# tshark would ask whether users other than root may capture: no, unasked.
echo "wireshark-common wireshark-common/install-setuid boolean false" | "${as_root[@]}" debconf-set-selections
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
