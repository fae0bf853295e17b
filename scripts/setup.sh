#!/usr/bin/env bash
# Installs what the project needs on Debian 12 and creates the Wine prefix.
# Idempotent: a second run finds everything present and changes nothing.
# As root it installs; otherwise it prints the command to run with sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ZQ_BUILD:-$here/build}

# Keep this list the one place where the project's packages are named.
pkgs=(
  cmake make g++ googletest
  wine wine32:i386 wine64 mingw-w64 g++-mingw-w64-i686
  xvfb xauth x11-utils
  imagemagick
  libgl1-mesa-dri:i386 libgl1:i386 libglx-mesa0:i386
  clang libclang-rt-14-dev openmpt123
  libjpeg62-turbo-dev libpng-dev libfreetype-dev fonts-dejavu-core
)

need_arch=0
dpkg --print-foreign-architectures | grep -qx i386 || need_arch=1
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "$need_arch" = 1 ] || [ ${#missing[@]} -gt 0 ]; then
  cmd="dpkg --add-architecture i386 && apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]:-}"
  if [ "$(id -u)" != 0 ]; then
    echo "zq setup: missing packages: ${missing[*]:-(i386 architecture)}" >&2
    echo "run as root:  sudo sh -c '$cmd'" >&2
    exit 1
  fi
  echo "zq setup: installing ${missing[*]:-(i386 architecture)}"
  [ "$need_arch" = 1 ] && dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A Wine prefix inside the build folder; the engine's log lands on its drive C.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "zq setup: creating Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "zq setup: wineboot failed to create $WINEPREFIX" >&2; exit 1; }
fi
