#!/usr/bin/env bash
# The Windows program, built on Debian and tried under wine:
#   1. the cross build, the zip and the installer (tools/windows/build.sh --tests);
#   2. the widget-free libraries' unit tests, run by ctest under wine;
#   3. the .exe from the zip on Xvfb: its window, its title, its captions drawn (compared with Linux's window);
#   4. through wine's ODBC (handed to the host's unixODBC and FreeTDS): the sandbox's account list and a
#      catalogue-only deletion whose undo script lands in wine's Documents folder;
#   5. the installer, silent (/S), and its uninstaller.
# Ends with "N passed, N failed" (unit tests and checks together). Shots and logs stay in build-windows/smoke/.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build-windows
smoke=$out/smoke
wine_run=$root/tools/windows/wine-run.sh
passed=0
failed=0
timings=()
pids=()

cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  WINEPREFIX=$out/wineprefix wineserver -k 2>/dev/null
  return 0
}
trap cleanup EXIT

pass() { echo "PASS   : $1"; passed=$((passed + 1)); }
fail() { echo "FAIL!  : $1"; failed=$((failed + 1)); }
timed() {  # timed NAME COMMAND...: runs it, remembers how long it took
  local name=$1 start=$SECONDS rc
  shift
  "$@"
  rc=$?
  timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - start)))")
  return $rc
}
summary() {
  echo "== Windows: time per step =="
  printf '%s\n' "${timings[@]}"
  echo "$passed passed, $failed failed"
}

echo "== Windows build =="
if ! timed "cross build, zip, installer" "$root/tools/windows/build.sh" --tests; then
  fail "tools/windows/build.sh"
  summary
  exit 1
fi
pass "tools/windows/build.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/build/CMakeCache.txt")
zip=$out/acctset-remover-$version-win64.zip
setup=$out/acctset-remover-$version-setup.exe
rm -rf "$smoke" && mkdir -p "$smoke"
# A fresh prefix each run: nothing installed or written by an earlier run.
export ACCTSET_WINEPREFIX=$out/wineprefix
export WINEPREFIX=$ACCTSET_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
timed "wine prefix" "$wine_run" cmd /c exit 0 >/dev/null 2>&1
# One wine server for every program below, instead of one started and stopped for each.
wineserver -p 300

echo "== Windows unit tests under wine =="
unit() {
  ctest --test-dir "$out/build" --output-on-failure >"$smoke/ctest.log" 2>&1
  cat "$smoke/ctest.log"
}
timed "unit tests under wine" unit
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$smoke/ctest.log")
bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of [0-9]*$/\1/p' "$smoke/ctest.log")
if [ -n "$total" ] && [ "$total" -gt 0 ]; then
  passed=$((passed + total - bad))
  failed=$((failed + bad))
else
  fail "ctest under wine ran no test"
fi

echo "== The window under wine =="
# The sandbox and the Linux window for comparison come from the normal build.
timed "Linux tool and sandbox" nice cmake --build "$root/build-test-normal" -j"$(nproc)" \
  --target acctset-remover acctset-sandbox >"$smoke/linux-build.log" 2>&1 || fail "Linux build of the sandbox"
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$smoke/xvfb.log" 2>&1 &
pids+=($!)
for i in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.2
done
export DISPLAY=:$display
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

title="删除帐套及年度帐"
# shot NAME COMMAND...: starts the program, waits for its window by title, saves it, closes the program.
shot() {
  local name=$1 id= i
  shift
  "$@" >"$smoke/$name.log" 2>&1 &
  local pid=$!
  for i in $(seq 1 90); do
    id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && break
    sleep 1
  done
  if [ -n "$id" ]; then
    sleep 3  # the first paint, then the fonts' late arrival under wine
    import -window "$id" "$smoke/window-$name.png"
    import -window root "$smoke/screen-$name.png"
    xdotool windowclose "$id" 2>/dev/null || xdotool windowkill "$id" 2>/dev/null
  fi
  sleep 1
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ -n "$id" ]
}
mkdir -p "$smoke/portable"
unzip -q "$zip" -d "$smoke/portable"
if timed "window under wine" shot wine "$wine_run" "$smoke/portable/acctset-remover/acctset-remover.exe"; then
  pass "the zip's program shows a window titled $title under wine"
else
  fail "the zip's program shows a window titled $title under wine"
fi
WINEPREFIX=$out/wineprefix wineserver -p 300
if QT_QPA_PLATFORM=xcb shot linux "$root/build-test-normal/src/app/acctset-remover"; then
  if [ -f "$smoke/window-wine.png" ] && "$root/tools/windows/compare-shots.py" "$smoke/window-linux.png" \
    "$smoke/window-wine.png"; then
    pass "under wine the window's size and its captions match Linux's"
  else
    fail "under wine the window's size and its captions match Linux's"
  fi
else
  fail "the Linux window for comparison"
fi

echo "== Through wine's ODBC =="
e2e() {
  local port password=Wine#2026 log=$smoke/sandbox.log
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  "$root/build-test-normal/sandbox/acctset-sandbox" --port "$port" --password "$password" --seed demo \
    --backup-dir "$smoke/backups" >"$log" 2>&1 &
  local sandbox=$!
  pids+=($sandbox)
  local i
  for i in $(seq 1 50); do
    grep -q "127.0.0.1,$port" "$log" && break
    sleep 0.2
  done
  # Into a file, not a pipe: wine's helper processes may keep a pipe open after the program ends.
  ACCTSET_E2E_SERVER="127.0.0.1,$port" ACCTSET_E2E_PASSWORD=$password timeout 300 \
    "$wine_run" "$out/build/src/deletion/tests/wine_odbc_e2e_test.exe" >"$smoke/wine-odbc.log" 2>&1
  cat "$smoke/wine-odbc.log"
  kill "$sandbox" 2>/dev/null
  wait "$sandbox" 2>/dev/null
  grep -q "Totals: [0-9]* passed, 0 failed, 0 skipped" "$smoke/wine-odbc.log"
}
if timed "data layer through wine's ODBC" e2e; then
  pass "account list and catalogue-only deletion through wine's ODBC"
else
  fail "account list and catalogue-only deletion through wine's ODBC"
fi
documents=$WINEPREFIX/drive_c/users/$(id -un)/Documents/acctset-remover
if ls "$documents"/*_002_*.sql >/dev/null 2>&1; then
  pass "the undo script is in wine's Documents folder"
else
  fail "the undo script is in wine's Documents folder"
fi

echo "== The installer under wine =="
installed=$WINEPREFIX/drive_c/Program\ Files/acctset-remover
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/帐套删除工具.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\acctset-remover'
install() {
  timeout 300 "$wine_run" "$setup" /S >"$smoke/install.log" 2>&1
  [ -f "$installed/acctset-remover.exe" ] && [ -f "$installed/sqldrivers/qsqlodbc.dll" ] &&
    [ -f "$installed/platforms/qwindows.dll" ] && [ -f "$menu" ] &&
    wine reg query "$key" /v UninstallString >/dev/null 2>&1
}
uninstall() {
  # The uninstaller copies itself to the temporary folder and carries on from there.
  timeout 300 "$wine_run" "$installed/uninstall.exe" /S >"$smoke/uninstall.log" 2>&1
  local i
  for i in $(seq 1 60); do
    [ ! -e "$installed" ] && break
    sleep 0.5
  done
  [ ! -e "$installed" ] && [ ! -e "$menu" ] && ! wine reg query "$key" >/dev/null 2>&1
}
if timed "silent install" install; then
  pass "the installer installs silently: program, plugins, Start-menu entry, uninstall entry"
  if timed "silent uninstall" uninstall; then
    pass "the uninstaller removes the program, its Start-menu entry and its uninstall entry"
  else
    fail "the uninstaller removes the program, its Start-menu entry and its uninstall entry"
  fi
else
  fail "the installer installs silently: program, plugins, Start-menu entry, uninstall entry"
fi

summary
[ "$failed" -eq 0 ]
