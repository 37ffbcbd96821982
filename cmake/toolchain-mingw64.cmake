# Cross-building the Windows program (x86_64, MinGW-w64 with POSIX threads) on Debian, against the Qt for
# Windows that tools/windows/build-qt.sh unpacks or builds. The Linux Qt of the same version supplies the
# host tools (moc, rcc, uic). ACCTSET_QT_WIN (variable or environment) names the Qt tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT ACCTSET_QT_WIN)
  if(DEFINED ENV{ACCTSET_QT_WIN})
    set(ACCTSET_QT_WIN "$ENV{ACCTSET_QT_WIN}")
  else()
    set(ACCTSET_QT_WIN "$ENV{HOME}/.cache/acctset-remover/qt-6.4.2-mingw64")
  endif()
endif()
# try_compile projects read this file again without the cache.
set(ENV{ACCTSET_QT_WIN} "${ACCTSET_QT_WIN}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ACCTSET_QT_WIN)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${ACCTSET_QT_WIN}")
set(CMAKE_PREFIX_PATH "${ACCTSET_QT_WIN}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
