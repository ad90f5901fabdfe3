#!/bin/sh
# install-deps.sh [--with-powershell]
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. With --with-powershell (the test command), also the two
# PowerShells that only the tests use.
set -eu
packages="cmake g++-mingw-w64-x86-64 googletest wine wine64 openssl osslsigncode nsis"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
fi
[ "${1:-}" = --with-powershell ] || exit 0

# PowerShell 7 as a .NET tool in the project's .tools folder: the tests have it
# parse the scripts the program gives Windows PowerShell and start the program
# against PowerShell for Windows (below). The program itself never starts it.
tools="$(dirname "$0")/../.tools"
host="$(dirname "$0")/../tests/powershell/host"
# PowerShell 7.6.10 for Windows behind a console host of our own stands in for
# Windows PowerShell under Wine (scripts/wine-prefix.sh). It is published once
# per checkout, and again only when the host changes.
published() {
  cmp -s "$host/Host.cs" "$tools/windows-powershell/Host.cs" &&
    cmp -s "$host/host.csproj" "$tools/windows-powershell/host.csproj"
}
[ -d "$tools/powershell/.store/powershell/7.6.10" ] && published && exit 0
if ! command -v dotnet >/dev/null 2>&1; then
  echo "no dotnet: PowerShell cannot be installed, so the PowerShell engine checks are skipped (under CI=true the run fails)"
  exit 0
fi
if [ ! -d "$tools/powershell/.store/powershell/7.6.10" ]; then
  echo "installing: PowerShell 7.6.10 (.NET tool)"
  rm -rf "$tools/powershell"
  dotnet tool install PowerShell --version 7.6.10 --tool-path "$tools/powershell" >/dev/null
fi
if ! published; then
  echo "publishing: PowerShell 7.6.10 for Windows (tests/powershell/host)"
  rm -rf "$tools/windows-powershell" "$tools/host-build"
  dotnet publish "$host" -c Release --artifacts-path "$tools/host-build" \
    -o "$tools/windows-powershell" >/dev/null
  rm -rf "$tools/host-build"
  # PowerShell looks for its own modules beside itself.
  mv "$tools/windows-powershell/runtimes/win/lib/net10.0/Modules" "$tools/windows-powershell"
  cp "$host/Host.cs" "$host/host.csproj" "$tools/windows-powershell"
fi
