#!/usr/bin/env bash
# The cost of a rack of thermometers, beside ser2net, the floor and the service of another revision
# (default main), in one run (build/bin/PortScale_bench). The other revision is built from an export
# of that revision in a temporary directory.
# Run from the repository root after a build: bench/port_scale.sh [REVISION] [PortScale_bench options]
set -euo pipefail
revision=${1:-main}
shift || true
command -v ser2net >/dev/null || { echo "ser2net is missing: scripts/setup installs it" >&2; exit 1; }
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
# The export lands in a new directory each run; these let the cache match it anyway.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/tmp} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git archive "$revision" | tar -x -C "$work/src"
cmake -S "$work/src" -B "$work/build" -G Ninja -DDUZ_BENCH=OFF >/dev/null
cmake --build "$work/build" --target duzezevovivo >/dev/null
echo "service: $(git rev-parse --short HEAD), baseline: $revision ($(git rev-parse --short "$revision"))"
build/bin/PortScale_bench build/bin/duzezevovivo "$work/build/bin/duzezevovivo" "$@"
