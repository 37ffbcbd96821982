#!/usr/bin/env bash
# Process start to first paint, and peak memory, of acctset-remover beside a bare Qt Widgets
# window with one label, in the same run.
#   bench/startup/run.sh [RUNS] [--offscreen]
# Runs under Xvfb (xvfb-run) by default, else on the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-30}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
dir=build-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target acctset-remover bench_bare_window startup_bench >/dev/null

cmd=("$dir/bench/startup/startup_bench" "$runs" "$PWD/$dir/src/app/acctset-remover"
     "$PWD/$dir/bench/startup/bench_bare_window")
if [ "${2:-}" = "--offscreen" ] || ! command -v xvfb-run >/dev/null; then
  echo "platform: offscreen"
  QT_QPA_PLATFORM=offscreen "${cmd[@]}"
else
  echo "platform: xcb under Xvfb"
  xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "${cmd[@]}"
fi
