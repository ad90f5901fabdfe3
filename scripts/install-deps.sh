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
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
