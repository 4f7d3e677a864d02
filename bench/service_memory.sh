#!/usr/bin/env bash
# Resident memory of the service before and after the headless binary, measured the same way in one
# run: service mode, one thermometer, one TCP client, 1,000 lines (build/bin/ServiceRss). "Before" is
# the service built from a revision that still linked Qt (default c194f2f), in a temporary worktree;
# "after" is build/bin/duzezevovivo of this tree.
# Run from the repository root after a build: bench/service_memory.sh [REVISION]
set -euo pipefail
revision=${1:-c194f2f}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
# The temporary worktree moves each run; these let the cache match it anyway.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/tmp} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
work=$(mktemp -d)
trap 'git worktree remove --force "$work/src" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
git worktree add --detach "$work/src" "$revision" >/dev/null 2>&1
cmake -S "$work/src" -B "$work/build" -G Ninja -DDUZ_BENCH=OFF >/dev/null
cmake --build "$work/build" --target duzezevovivo >/dev/null
echo "before ($revision):"
build/bin/ServiceRss "$work/build/bin/duzezevovivo"
echo "after ($(git rev-parse --short HEAD)):"
build/bin/ServiceRss build/bin/duzezevovivo
