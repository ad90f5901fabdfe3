#!/bin/sh
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks.
set -eu
packages="cmake g++-mingw-w64-x86-64 googletest wine wine64 openssl osslsigncode"
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

# PowerShell 7 as a .NET tool in the project's .tools folder: the tests have it
# parse and run the scripts the program gives Windows PowerShell. The program
# itself never starts it.
tools="$(dirname "$0")/../.tools/powershell"
[ -d "$tools/.store/powershell/7.6.10" ] && exit 0
if ! command -v dotnet >/dev/null 2>&1; then
  echo "no dotnet: PowerShell 7 cannot be installed, so the PowerShell engine checks are skipped (under CI=true the run fails)"
  exit 0
fi
echo "installing: PowerShell 7.6.10 (.NET tool)"
rm -rf "$tools"
dotnet tool install PowerShell --version 7.6.10 --tool-path "$tools" >/dev/null
