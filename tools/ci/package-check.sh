#!/usr/bin/env bash
# Builds the Debian package of the tool alone, installs it on this machine with apt-get as a user
# would, and starts the installed program offscreen until its window first paints; then removes
# the package again. Needs root (or sudo). Prints the package's size and declared dependencies.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup/deps.sh

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
dir=build-package
rm -rf "$dir/_CPack_Packages" "$dir"/*.deb
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DACCTSET_BUILD_TESTS=OFF -DACCTSET_BUILD_BENCHMARKS=OFF -DACCTSET_BUILD_SANDBOX=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/acctset-remover_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "package-check: no package was built" >&2; exit 1; }

echo "== $(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Package Version Architecture Installed-Size Depends
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$'

echo "== apt-get install ./$(basename "$deb")"
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq acctset-remover >/dev/null || true
  fi
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$PWD/$deb" </dev/null >/dev/null
installed=1

fail() { echo "package-check: $*" >&2; exit 1; }
for f in /usr/bin/acctset-remover /usr/share/applications/acctset-remover.desktop \
  /usr/share/pixmaps/acctset-remover.xpm; do
  [ -e "$f" ] || fail "$f is not installed"
done
if ldd /usr/bin/acctset-remover | grep -q 'not found'; then
  fail "the installed program misses libraries: $(ldd /usr/bin/acctset-remover | grep 'not found')"
fi
odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || fail "FreeTDS is not registered with unixODBC"

# Run from elsewhere, with a plain environment, so nothing of the build tree can be picked up.
runtime=$(mktemp -d)
out=$(cd / && env -i PATH=/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen ACCTSET_BENCH_FIRST_PAINT=1 timeout 60 acctset-remover 2>&1) ||
  fail "the installed program did not start and paint (exit $?): $out"
rm -rf "$runtime"
grep -q '^first-paint-ns ' <<<"$out" || fail "the installed program quit without painting: $out"
echo "== installed acctset-remover painted its window: OK"
