#!/usr/bin/env bash
# Idle cost: 16 simulated thermometers at one line per second each, watched by the service in
# -debug mode (terminal view to /dev/null) for 60 s; prints the CPU time the service used.
# Run from the repository root after a build: bench/idle_cpu.sh [seconds]
set -euo pipefail
seconds=${1:-60}
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
{
  echo "Windows Registry Editor Version 5.00"
  echo "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]"
  echo "\"config\"=\"$work/config.xml\""
  echo "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo\\ComPorts]"
} >"$work/registry.reg"
echo "<config>" >"$work/config.xml"
for i in $(seq 1 16); do
  "$bin/kelvo-sim" --symlink "$work/kelvo$i" --constant 2$((i % 10)).5 --period-ms 1000 >/dev/null 2>&1 &
  echo "\"COM$i\"=\"$work/kelvo$i\"" >>"$work/registry.reg"
  echo "<Kelvo comport=\"$i\"/>" >>"$work/config.xml"
done
echo "</config>" >>"$work/config.xml"
sleep 1
cd "$work"
DISPLAY= WAYLAND_DISPLAY= DUZEZEVOVIVO_REGISTRY="$work/registry.reg" DUZEZEVOVIVO_EVENTLOG="$work/events.log" \
  "$bin/duzezevovivo" -debug >/dev/null &
pid=$!
sleep "$seconds"
ticks=$(awk '{print $14 + $15}' /proc/$pid/stat)
hz=$(getconf CLK_TCK)
kill -INT $pid
wait $pid || true
awk -v t="$ticks" -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "CPU time %.2f s over %d s: %.2f%% of one core\n", t / hz, s, 100 * t / hz / s }'
