#!/bin/sh
# wine-prefix.sh setup PREFIX [RECORDER_EXE [throwaway [POWERSHELL_DIR]]]
# wine-prefix.sh teardown PREFIX
# Makes a fresh private Wine prefix and keeps its wineserver alive until
# teardown, so each later Windows process starts in a fraction of a second
# instead of seconds. With RECORDER_EXE, installs it as the prefix's netsh.exe
# and powershell.exe (the tests' stand-ins for the real tools). With
# "throwaway", marks the prefix as the test suite's own: only there do the
# tests that change the machine run. With POWERSHELL_DIR (PowerShell for
# Windows, as scripts/install-deps.sh --with-powershell publishes it), that is
# the prefix's Windows PowerShell instead, with the stand-in firewall module in
# its Modules folder and a look-alike of that module first on PSModulePath.
set -eu
action=$1
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Without address randomisation a new Wine process never has its heap where
# Wine must map the shared user data (see tests/wine/wine-run.sh.in).
# Where setarch is refused, the real programs run as they are (a function that
# called itself by name would never end).
if setarch -R true 2>/dev/null; then
  wine() { setarch -R wine "$@"; }
  wineboot() { setarch -R wineboot "$@"; }
fi

case "$action" in
setup)
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  # Wine's background services outlive the call that starts them and inherit
  # its output: keep them away from any caller's pipes (CTest's included).
  wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1
  # No X display here: the null driver lets programs make (hidden) windows.
  # It must be set before the desktop process starts, hence the restart.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
  if [ $# -ge 3 ]; then
    system32="$WINEPREFIX/drive_c/windows/system32"
    cp "$3" "$system32/netsh.exe"
    mkdir -p "$system32/WindowsPowerShell/v1.0"
    cp "$3" "$system32/WindowsPowerShell/v1.0/powershell.exe"
  fi
  if [ $# -ge 5 ]; then
    tests="$(dirname "$0")/../tests/powershell"
    rm -rf "$system32/WindowsPowerShell/v1.0"
    cp -r "$5" "$system32/WindowsPowerShell/v1.0"
    cp -r "$tests/NetSecurity" "$system32/WindowsPowerShell/v1.0/Modules"
    # With write-xor-execute, .NET maps its generated code twice (a writable
    # and an executable view of one section) and remaps views as it compiles.
    # Under Wine 8 PowerShell for Windows, started by the program, then dies
    # in most starts (0xC0000602, an access violation in coreclr.dll); mapped
    # once, it runs clean. A machine variable, as on Windows, so that
    # it reaches PowerShell through the program unchanged.
    wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' \
      /v DOTNET_EnableWriteXorExecute /d 0 /f </dev/null >/dev/null 2>&1
    # PowerShell looks in the person's Documents folder first, which Wine
    # links to the Unix home: here it is a folder of the prefix's own.
    for user in "$WINEPREFIX"/drive_c/users/*; do
      [ "${user##*/}" = Public ] && continue
      [ -L "$user/Documents" ] && rm "$user/Documents"
      mkdir -p "$user/Documents/PowerShell/Modules"
      cp -r "$tests/look-alike/NetSecurity" "$user/Documents/PowerShell/Modules"
    done
  fi
  if [ "${4:-}" = throwaway ]; then
    wine reg add 'HKLM\Software\UlvexSystemSetupTests' /v ThrowawayTestPrefix /d yes /f \
      </dev/null >/dev/null 2>&1
    # Wine's CreateSymbolicLinkW makes nothing, so the results-file tests get
    # their symbolic links from here: at a file, at nothing, and at a folder.
    links="$WINEPREFIX/drive_c/ulvex-links"
    mkdir -p "$links/outside"
    ln -s outside/sentinel.txt "$links/to-sentinel.txt"
    ln -s outside/never.txt "$links/dangling.txt"
    ln -s outside "$links/to-outside"
  fi
  echo "wine prefix ready: $WINEPREFIX"
  ;;
teardown)
  wineserver -k >/dev/null 2>&1 || true
  echo "wineserver stopped"
  ;;
*)
  echo "usage: wine-prefix.sh setup|teardown PREFIX [RECORDER_EXE [throwaway]]" >&2
  exit 2
  ;;
esac
