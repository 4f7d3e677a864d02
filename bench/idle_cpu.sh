#!/usr/bin/env bash
# Idle cost: 16 simulated thermometers at one line per second each, watched by the service in
# -debug mode (terminal view to /dev/null) for 60 s; prints the CPU time the service used. Then
# every thermometer hangs up, and the CPU time of the next period shows that nothing spins.
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
cpu_ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
report() {
  awk -v t="$2" -v hz="$(getconf CLK_TCK)" -v s="$seconds" -v what="$1" \
    'BEGIN { printf "%s: CPU time %.2f s over %d s, %.2f%% of one core\n", what, t / hz, s, 100 * t / hz / s }'
}
sleep "$seconds"
reading=$(cpu_ticks)
report "16 thermometers, one line per second each" "$reading"
kill $(jobs -p | grep -v "^$pid$") 2>/dev/null || true
sleep "$seconds"
report "after every thermometer hung up" "$(( $(cpu_ticks) - reading ))"
kill -INT $pid
wait $pid || true
