#!/bin/sh
# Builds the program and runs it under Wine in a throwaway prefix inside the
# build folder, with this script's arguments. Without arguments, a short
# demonstration: the command lines an installer runs, install and uninstall.
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
  printf '> UlvexSystemSetup'
  for arg; do
    case $arg in *' '*) printf ' "%s"' "$arg" ;; *) printf ' %s' "$arg" ;; esac
  done
  printf '\n'
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
    rm "$log"
  fi
}

if [ $# -gt 0 ]; then
  run "$@"
  exit "$code"
fi

show_value() {
  if out=$(wine reg query "$1" /v "$2" 2>/dev/null); then
    printf '%s\n' "$out" | tr -d '\r' | grep -v -e '^$'
  else
    printf '%s\n    %s (absent)\n' "$1" "$2"
  fi
}
openxr='HKLM\SOFTWARE\Khronos\OpenXR\1'
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
autostart='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
hub='C:\Program Files\Ulvex Hub'
echo "Demonstration: the command lines an installer runs, at install and at uninstall."
mkdir -p "$prefix/drive_c/Other" "$prefix/drive_c/Program Files/Ulvex Hub"
printf '{}' >"$prefix/drive_c/Other/runtime.json"
printf 'MZ' >"$prefix/drive_c/Program Files/Ulvex Hub/Hub.exe"
wine reg add "$openxr" /v ActiveRuntime /d 'C:\Other\runtime.json' /f >/dev/null 2>&1
wine reg add "$environment" /v XR_RUNTIME_JSON /d 'C:\Old\runtime.json' /f >/dev/null 2>&1
wine reg add "$autostart" /v UlvexHub /d 'C:\Old\UlvexHub.exe' /f >/dev/null 2>&1
echo "Before: another runtime is active; XR_RUNTIME_JSON and the UlvexHub autostart entry are set."
show_value "$openxr" ActiveRuntime
run --result "$hub\install.txt" --firewall-add --firewall-app "$hub\Hub.exe" \
  --openxr-runtime "$hub\runtime.json" --clear-xr-env --remove-legacy-autostart
echo "Results file (bytes in hex; EF BB BF is the UTF-8 byte-order mark):"
od -An -tx1 "$prefix/drive_c/Program Files/Ulvex Hub/install.txt"
echo "Registry afterwards:"
show_value "$openxr" ActiveRuntime
show_value "$environment" XR_RUNTIME_JSON
show_value "$autostart" UlvexHub

echo "Uninstall, giving back the runtime that was active before the install:"
run --result "$hub\uninstall.txt" --firewall-remove --firewall-app-remove "$hub\Hub.exe" \
  --openxr-runtime-remove "$hub\runtime.json" --openxr-runtime-restore 'C:\Other\runtime.json'
show_value "$openxr" ActiveRuntime
