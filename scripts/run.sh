#!/bin/sh
# Builds the program and runs it under Wine in a throwaway prefix inside the
# build folder, with this script's arguments. Without arguments, a short
# demonstration of the registry tasks.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-run --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-run -j "$(nproc)" --target UlvexSystemSetup test_recorder >/dev/null
exe="$(pwd)/build-run/bin/UlvexSystemSetup.exe"
prefix="$(pwd)/build-run/wineprefix"
# Wine's own netsh and PowerShell do nothing and succeed. The tests' recorder
# stands in for both instead, so the firewall tasks show what they would run.
scripts/wine-prefix.sh setup "$prefix" build-run/bin/test_recorder.exe >/dev/null
trap 'scripts/wine-prefix.sh teardown "$prefix" >/dev/null' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="netsh.exe=n;powershell.exe=n"
export RECORDER_LOG='C:\recorded-commands.log'

# printf, not echo: Windows paths are full of backslashes.
run() {
  printf '> UlvexSystemSetup %s\n' "$*"
  set +e
  wine "$exe" "$@"
  code=$?
  set -e
  printf 'exit code: %s\n' "$code"
  log="$prefix/drive_c/recorded-commands.log"
  if [ -f "$log" ]; then
    echo "Under Wine the firewall tasks are shown, not carried out. Command lines started, in order,"
    echo "each with the folder it started in:"
    sed -E 's/^pid=[0-9]+ flags=[0-9]+ show=[0-9]+ console=[0-9]+ window=[0-9]+ cwd=(.*) cmd=/  in \1: /' "$log"
  fi
}

if [ $# -gt 0 ]; then
  run "$@"
  exit "$code"
fi

echo "Demonstration: the registry tasks, with a results file."
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' \
  /v XR_RUNTIME_JSON /d 'C:\Old\runtime.json' /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' \
  /v UlvexHub /d 'C:\Old\UlvexHub.exe' /f >/dev/null 2>&1
echo "Before: XR_RUNTIME_JSON and the UlvexHub autostart entry are set."
run --result 'C:\results.txt' --openxr-runtime 'C:\Rt\runtime.json' --clear-xr-env \
  --remove-legacy-autostart --openxr-runtime ''
echo "Results file (bytes in hex; EF BB BF is the UTF-8 byte-order mark):"
od -An -tx1 "$prefix/drive_c/results.txt"
show_value() {
  if out=$(wine reg query "$1" /v "$2" 2>/dev/null); then
    printf '%s\n' "$out" | tr -d '\r' | grep -v -e '^$'
  else
    printf '%s\n    %s (absent)\n' "$1" "$2"
  fi
}
echo "Registry afterwards:"
show_value 'HKLM\SOFTWARE\Khronos\OpenXR\1' ActiveRuntime
show_value 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' XR_RUNTIME_JSON
show_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' UlvexHub

echo "Undo: a removal naming another manifest keeps ActiveRuntime;"
echo "one naming the same manifest in other letter case removes it."
run --openxr-runtime-remove 'C:\Other\runtime.json'
show_value 'HKLM\SOFTWARE\Khronos\OpenXR\1' ActiveRuntime
run --openxr-runtime-remove 'c:\rt\RUNTIME.JSON'
show_value 'HKLM\SOFTWARE\Khronos\OpenXR\1' ActiveRuntime
