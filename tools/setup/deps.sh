#!/usr/bin/env bash
# Installs the Debian 12 packages the tool, its sandbox server and its tests need.
# Quick when everything is already there. `--windows` adds what the Windows build and its tests under
# wine need (tools/windows/), which ./test and ./run do without; `--qt-source` what building Qt for
# Windows from source needs.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  # A compiler cache and a faster linker: the build uses them when they are there.
  ccache lld
  qt6-base-dev libgl-dev
  # The window tests ask for a close as a window manager does, through Qt's platform interface.
  qt6-base-private-dev
  libqt6sql6-odbc unixodbc unixodbc-dev tdsodbc freetds-bin
  libsqlite3-dev libssl-dev
  fonts-wqy-zenhei fonts-arphic-ukai
  # The sandbox's RPC test drives it with tedious, which its CTest fixture installs with npm.
  nodejs
)
# Debian's nodejs comes without npm; a Node.js installed with its own npm needs none.
command -v npm >/dev/null 2>&1 || packages+=(npm)
for option in "$@"; do
  case $option in
    --windows)
      packages+=(
        g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev mingw-w64-tools
        nsis wine wine64 xvfb openbox xdotool x11-utils imagemagick zip unzip xz-utils
      ) ;;
    # Qt for Windows from Debian's source, only when no prebuilt one is at hand (tools/windows/build-qt.sh).
    --qt-source) packages+=(dpkg-dev qt6-base-dev-tools) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
