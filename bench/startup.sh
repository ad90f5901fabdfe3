#!/bin/bash
# Prints the program's size, its start-up time under Wine against a program
# that does nothing, and the CPU it uses while it waits for a child.
# Figures, not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build-bench
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$build" -j "$(nproc)" --target UlvexSystemSetup bench_do_nothing test_recorder \
  >/dev/null
exe="$(pwd)/$build/bin/UlvexSystemSetup.exe"
baseline="$(pwd)/$build/bin/bench_do_nothing.exe"
prefix="$(pwd)/$build/wineprefix"
scripts/wine-prefix.sh setup "$prefix" "$build/bin/test_recorder.exe" >/dev/null
trap 'scripts/wine-prefix.sh teardown "$prefix" >/dev/null' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="netsh.exe=n;powershell.exe=n"

runs=${RUNS:-41}
elapsed_us() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Warm up the server and the page cache, then alternate the two programs.
for _ in 1 2 3; do wine "$exe" --remove-legacy-autostart >/dev/null; wine "$baseline"; done
program_times=() baseline_times=()
for _ in $(seq "$runs"); do
  program_times+=("$(elapsed_us wine "$exe" --remove-legacy-autostart)")
  baseline_times+=("$(elapsed_us wine "$baseline")")
done
program=$(median "${program_times[@]}")
base=$(median "${baseline_times[@]}")

# CPU while waiting: the third netsh run (the add) sleeps 2.5 s; sample the
# program's CPU time across 2 s of that sleep.
log="$(pwd)/$build/recorder.log"
rm -f "$log"
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
RECORDER_LOG="Z:${log//\//\\}" RECORDER_SLEEP_MS="0,0,2500" wine "$exe" --firewall-add >/dev/null &
pid=$!
for _ in $(seq 1000); do
  [ -f "$log" ] && [ "$(wc -l <"$log")" -ge 3 ] && break
  sleep 0.01
done
before=$(cpu_ns "$pid")
sleep 2
after=$(cpu_ns "$pid")
wait "$pid" || true

printf 'exe size:                 %d bytes (%d KB)\n' "$(stat -c %s "$exe")" "$(($(stat -c %s "$exe") / 1024))"
printf 'start-up, median of %d:   %d.%03d ms (--remove-legacy-autostart)\n' "$runs" $((program / 1000)) $((program % 1000))
printf 'baseline, median of %d:   %d.%03d ms (do-nothing console program)\n' "$runs" $((base / 1000)) $((base % 1000))
printf 'start-up ratio:           %s\n' "$(awk -v a="$program" -v b="$base" 'BEGIN { printf "%.2f", a / b }')"
printf 'CPU while waiting 2 s:    %s ms\n' "$(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')"
