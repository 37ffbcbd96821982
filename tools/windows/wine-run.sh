#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine: a private prefix inside build-windows/, no wine debug
# output, and Qt's and the MinGW runtime's DLLs on the path. Used as CTest's emulator and by the smoke test.
# ACCTSET_WINEPREFIX and ACCTSET_QT_WIN override the prefix and the Qt tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${ACCTSET_WINEPREFIX:-$root/build-windows/wineprefix}
export WINEDEBUG=${ACCTSET_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
qt=${ACCTSET_QT_WIN:-$HOME/.cache/acctset-remover/qt-6.4.2-mingw64}
gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
# Wine reads WINEPATH as a Windows path list; its Z: drive is the host's root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export WINEPATH="$(winpath "$qt/bin");$(winpath "$gcc");$(winpath /usr/x86_64-w64-mingw32/lib)"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  # Without a console window Qt logs (and Qt Test reports) to the debugger instead of stdout. The setting goes
  # into the registry's environment because wine does not hand QT_* variables to Windows programs.
  wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null 2>&1
  wineserver --wait || true
fi
# A new prefix links Documents, Desktop and the like to the host's home; keep this one's folders its own.
for d in Desktop Documents Downloads Music Pictures Videos Templates; do
  link=$WINEPREFIX/drive_c/users/$(id -un)/$d
  if [ -L "$link" ]; then rm "$link" && mkdir -p "$link"; fi
done
exec wine "$@"
