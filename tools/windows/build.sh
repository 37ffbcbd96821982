#!/usr/bin/env bash
# Cross-builds the Windows program on Debian and packs it twice: a portable zip and an NSIS installer.
#   tools/windows/build.sh            # -> build-windows/acctset-remover-<version>-win64.zip and -setup.exe
#   tools/windows/build.sh --tests    # also the unit tests of the widget-free libraries, run by ctest under wine
# The Qt for Windows comes from tools/windows/build-qt.sh (ACCTSET_QT_WIN overrides where it lives).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build-windows
tests=OFF
[ "${1:-}" = --tests ] && tests=ON

"$root/tools/setup/deps.sh" --windows
qt=$("$root/tools/windows/build-qt.sh" | tail -n 1)
export ACCTSET_QT_WIN=$qt

build=$out/build
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" -DACCTSET_QT_WIN="$qt" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/windows/wine-run.sh" \
  -DACCTSET_WERROR=ON -DACCTSET_BUILD_SANDBOX=OFF -DACCTSET_BUILD_BENCHMARKS=OFF -DACCTSET_BUILD_TESTS=$tests >/dev/null
nice cmake --build "$build" -j"$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# The program's folder: the executable, the DLLs it imports (followed transitively), and the plugins Qt
# loads by name: the windows platform, the ODBC driver, the native style.
stage=$out/stage/acctset-remover
rm -rf "$out/stage" && mkdir -p "$stage/platforms" "$stage/sqldrivers" "$stage/styles"
cp "$build/src/app/acctset-remover.exe" "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/sqldrivers/qsqlodbc.dll" "$stage/sqldrivers/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
search=("$qt/bin" "$gcc_dir" /usr/x86_64-w64-mingw32/lib)
# What Windows itself provides; anything else an import names must be found above.
system_dll='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|ole32|oleaut32|comdlg32|comctl32|winspool\.drv|uuid|imm32|winmm|ws2_32|mpr|userenv|version|netapi32|dwmapi|uxtheme|setupapi|shlwapi|wtsapi32|msvcrt|odbc32|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|crypt32|bcrypt|secur32|authz|rpcrt4|ntdll|shcore|api-ms-win-.*|ext-ms-win-.*)\.(dll|drv)$'
declare -A seen=()
follow() {
  local dll lower found dir
  while read -r dll; do
    lower=${dll,,}
    [ -n "${seen[$lower]:-}" ] && continue
    seen[$lower]=1
    [[ $lower =~ $system_dll ]] && continue
    found=
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then found=$dir/$dll; break; fi
    done
    if [ -z "$found" ]; then
      echo "build.sh: $1 imports $dll, found neither in Windows nor in ${search[*]}" >&2
      exit 1
    fi
    cp "$found" "$stage/"
    follow "$stage/$dll"
  done < <(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p')
}
for f in "$stage/acctset-remover.exe" "$stage"/platforms/*.dll "$stage"/sqldrivers/*.dll "$stage"/styles/*.dll; do
  follow "$f"
done
# Debug information stays in the build tree; the shipped files lose a third of their size.
find "$stage" -name '*.dll' -o -name '*.exe' | xargs x86_64-w64-mingw32-strip --strip-unneeded
(cd "$stage" && find . -type f | sort) >"$out/shipped-files.txt"

zip=$out/acctset-remover-$version-win64.zip
rm -f "$zip"
(cd "$out/stage" && zip -qr9 "$zip" acctset-remover)
setup=$out/acctset-remover-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
  -DICON="$root/src/app/resources/acctset-remover.ico" "$root/packaging/windows/installer.nsi"
ls -l "$zip" "$setup" | awk '{print $5, $9}'
