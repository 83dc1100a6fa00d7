#!/usr/bin/env bash
# Installs the Debian packages of the named sets, and only the ones missing:
# on a machine that has them all it changes nothing and needs no network.
#   tools/install-deps.sh [--polish] SET... [package...]
# The sets (each script asks for its own):
#   demo     the linux build of the plug-in and vask-host, both faces, and
#            tmux for run-host.sh
#   web      what run-web.sh needs: demo without tmux
#   tests    the linux tests, the sanitizers, the thread-safety analysis,
#            the benchmarks and the fuzzers (includes demo)
#   i386     the linux-i386 build and its tests (i386 libraries, qemu)
#   windows  vask.dll (mingw-w64) and Wine; 32-bit Wine only where this
#            kernel runs 32-bit x86 code
#   browser  the web face's browser tests (Chromium, Node.js)
#   lan      the real-LAN tests (namespaces, tshark, Samba) and the
#            Debian package's test
#   all      every set
# With no set it installs "all". Any other word is a package name.
# A package mirror that is mid-sync often fails one index ("File has
# unexpected size"); apt-get update is tried a few times and the install
# goes on with the indexes it has. Exits 0 when everything asked for is
# installed; otherwise names each package that could not be installed,
# one line each, and exits 1, so a caller can go on without that set.
# With --polish those lines are in Polish and also say what each package
# is for and how to install it by hand (run-host.sh and run-web.sh, which
# people run, ask for that). Without root and without sudo nothing is
# tried: the missing packages are named, with the command to run as root.
set -euo pipefail

polish=0
if [ "${1:-}" = --polish ]; then
  polish=1
  shift
fi

set_web=(cmake make g++ pkgconf python3 libsqlite3-dev libreadline-dev
  nlohmann-json3-dev libcpp-httplib-dev)
set_demo=("${set_web[@]}" tmux)
set_tests=("${set_demo[@]}" googletest libgtest-dev libbenchmark-dev
  clang-14 clang-format-14 libclang-rt-14-dev iproute2)
set_i386=(g++-multilib libsqlite3-dev:i386 libreadline-dev:i386 qemu-user-static)
set_windows=(mingw-w64 wine wine64)
set_browser=(chromium)
# The package test's cpack reads the programs' libraries with file and
# dpkg-shlibdeps, and sets and reads the bridge's capability; it boots a
# system with the service manager, the system bus and logind to run the
# bridge's unit, in namespaces that util-linux makes.
set_lan=(iproute2 tshark samba samba-common-bin dpkg-dev file libcap2-bin
  systemd dbus util-linux)

packages=()
[ $# -eq 0 ] && set -- all
for word in "$@"; do
  case "$word" in
    demo) packages+=("${set_demo[@]}") ;;
    web) packages+=("${set_web[@]}") ;;
    tests) packages+=("${set_tests[@]}") ;;
    i386) packages+=("${set_i386[@]}") ;;
    windows) packages+=("${set_windows[@]}") ;;
    browser) packages+=("${set_browser[@]}") ;;
    lan) packages+=("${set_lan[@]}") ;;
    all) packages+=("${set_tests[@]}" "${set_i386[@]}" "${set_windows[@]}"
                    "${set_browser[@]}" "${set_lan[@]}") ;;
    *) packages+=("$word") ;;
  esac
  case "$word" in
    windows|all)
      # 32-bit Wine only where the kernel runs i386 programs itself: under
      # an emulator it never finishes making its prefix (run-wine-tests.sh).
      if [ -x /usr/lib/i386-linux-gnu/ld-linux.so.2 ] &&
         /usr/lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1 &&
         ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
        packages+=(wine32:i386)
      fi ;;
  esac
  case "$word" in
    browser|all)
      # The browser tests' Node.js and npm: Debian's, unless the machine
      # has them already from elsewhere (a nodejs package that carries its
      # own npm conflicts with Debian's npm).
      if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        packages+=(nodejs npm)
      fi ;;
  esac
done

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
  installed "$p" || case " ${missing[*]-} " in *" $p "*) ;; *) missing+=("$p") ;; esac
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# What a package of the people's sets is for, in Polish.
purpose() {
  case "$1" in
    cmake|make|pkgconf) echo "budowanie programów" ;;
    g++) echo "kompilator C++" ;;
    python3) echo "skrypty pomocnicze budowania" ;;
    libsqlite3-dev) echo "profile w bazie SQLite" ;;
    libreadline-dev) echo "edycja wiersza na terminalu" ;;
    nlohmann-json3-dev) echo "zdarzenia w formacie JSON" ;;
    libcpp-httplib-dev) echo "strona w przeglądarce (vask-host --web)" ;;
    tmux) echo "dwa komputery w panelach obok siebie" ;;
    *) echo "potrzebny skryptowi" ;;
  esac
}
# Names each package in the list and how to get them all; exits 1.
give_up() {
  local p how="apt-get install ${*}"
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then how="sudo $how"; else how="su -c '$how'"; fi
  fi
  for p in "$@"; do
    if [ "$polish" = 1 ]; then
      echo "install-deps: brakuje pakietu $p ($(purpose "$p")), nie dało się go zainstalować"
    else
      echo "install-deps: cannot install $p"
    fi
  done
  if [ "$polish" = 1 ]; then
    echo "install-deps: zainstaluj jako administrator: $how"
    echo "install-deps: (Debian 12; gdy apt-get nie zna pakietu, najpierw: apt-get update)"
  else
    echo "install-deps: as root: $how"
  fi
  exit 1
}

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  # apt-get would only fail on its lock: say what to do instead.
  give_up "${missing[@]}"
fi

echo "install-deps: installing ${missing[*]}"
for p in "${missing[@]}"; do
  case "$p" in
    *:i386)
      if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
      fi ;;
  esac
done

# apt-get update reports success even when an index failed; its "E:" or
# "W: Failed to fetch" lines tell. A failed index is retried a few times,
# then the install goes on with what the others give.
for attempt in 1 2 3; do
  log=$("${as_root[@]}" apt-get update 2>&1) && ! grep -qE '^(E|W): (Failed to fetch|Some index files)' <<<"$log" && break
  if [ "$attempt" -eq 3 ]; then
    grep -E '^(E|W): ' <<<"$log" | head -n 3 | sed 's/^/install-deps: apt-get update: /'
    echo "install-deps: going on with the package indexes that could be read"
  else
    sleep $((attempt * 5))
  fi
done

# tshark would ask whether users other than root may capture: no, unasked.
echo "wireshark-common wireshark-common/install-setuid boolean false" | "${as_root[@]}" debconf-set-selections
apt_install() {
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "$@"
}
if apt_install "${missing[@]}"; then
  exit 0
fi
# One package that cannot be had (an index missing, its version no longer
# matching the machine's own) fails the whole install: install the rest
# one by one and name each that fails.
failed=()
for p in "${missing[@]}"; do
  installed "$p" || apt_install "$p" >/dev/null 2>&1 || failed+=("$p")
done
[ ${#failed[@]} -eq 0 ] || give_up "${failed[@]}"
