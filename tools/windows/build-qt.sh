#!/usr/bin/env bash
# Qt 6.4.2 for Windows x86_64 (MinGW-w64, shared, release): Core, Gui, Widgets, Sql with the ODBC driver,
# Test; the windows, offscreen and minimal platform plugins. Unpacks the prebuilt tree from ../shared/windows/
# beside the clone when there is one, else cross-builds Debian's qt6-base 6.4.2 source (about 30 minutes on
# two cores). The result lives outside the tree: ACCTSET_QT_WIN, default ~/.cache/acctset-remover/qt-6.4.2-mingw64.
# A second run finds it and does nothing. Prints the Qt folder as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
qt=${ACCTSET_QT_WIN:-$HOME/.cache/acctset-remover/qt-6.4.2-mingw64}
stamp=$qt/.acctset-complete

if [ -f "$stamp" ]; then
  echo "$qt"
  exit 0
fi
"$root/tools/setup/deps.sh" --windows

prebuilt=$root/../shared/windows/qt-6.4.2-mingw64.tar.xz
parent=$(dirname "$qt")
mkdir -p "$parent"
rm -rf "$qt"
if [ -f "$prebuilt" ]; then
  echo "Unpacking $(basename "$prebuilt") into $parent" >&2
  tmp=$(mktemp -d "$parent/.unpack.XXXXXX")
  tar xJf "$prebuilt" -C "$tmp"
  mv "$tmp/qt-6.4.2-mingw64" "$qt"
  rmdir "$tmp"
  touch "$stamp"
  echo "$qt"
  exit 0
fi

# No prebuilt: build from Debian's source, fetched through a private deb-src list (nothing under /etc changes).
"$root/tools/setup/deps.sh" --windows --qt-source
work=${ACCTSET_QT_WIN_WORK:-$parent/qt-mingw-build}
mkdir -p "$work/aptsrc/lists/partial"
cd "$work"
# The archive the machine's own deb entry names, as deb-src.
sed -n '1,/^$/p' /etc/apt/sources.list.d/debian.sources | sed 's/^Types: deb$/Types: deb-src/' >aptsrc/src.sources
apt=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$work/aptsrc" -o Dir::State::Lists="$work/aptsrc/lists")
src=qt6-base-6.4.2+dfsg
if [ ! -d "$src" ]; then
  apt-get "${apt[@]}" update >&2
  apt-get "${apt[@]}" source --download-only qt6-base=6.4.2+dfsg-10 >&2
  dpkg-source -x qt6-base_6.4.2+dfsg-10.dsc >&2
  # With OpenGL and Direct2D off, 6.4.2 still compiles the windows plugin's dynamicgl and directwrite3 paths.
  p=$src/src/plugins/platforms/windows
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' $p/qwindowswindow.cpp
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    $p/qwindowsintegration.cpp
fi

# Qt's own build needs only the compilers; the project's toolchain file adds the Qt lookup on top.
cat >toolchain-mingw64.cmake <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC
rm -rf build-qtbase && mkdir build-qtbase && cd build-qtbase
nice -n 15 cmake -G Ninja "../$src" \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain-mingw64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$qt" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_pkg_config=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_sql=ON -DFEATURE_sql_odbc=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_psql=OFF \
  -DFEATURE_sql_mysql=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_db2=OFF \
  -DFEATURE_sql_mimer=OFF \
  -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON \
  -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_androiddeployqt=OFF \
  -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF -DFEATURE_openssl=OFF \
  -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF \
  -DFEATURE_harfbuzz=ON -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_jpeg=OFF >"$work/configure.log" 2>&1
echo "Building Qt for Windows (about 30 minutes on two cores); log in $work/build.log" >&2
nice -n 15 ninja -j"$(nproc)" >"$work/build.log" 2>&1
nice -n 15 ninja install >"$work/install.log" 2>&1
# The toolchain file travels inside the tree, so that Qt's own qt.toolchain.cmake finds it wherever it lies.
cp "$work/toolchain-mingw64.cmake" "$qt/lib/cmake/Qt6/toolchain-mingw64.cmake"
sed -i 's#^set(__qt_initially_configured_toolchain_file ".*")#set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw64.cmake")#' \
  "$qt/lib/cmake/Qt6/qt.toolchain.cmake"
touch "$stamp"
echo "$qt"
