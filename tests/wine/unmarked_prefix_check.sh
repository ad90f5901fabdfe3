#!/bin/sh
# unmarked_prefix_check.sh PREFIX E2E_TESTS_EXE SNAPSHOT_EXE
# Runs the end-to-end tests in a Wine prefix that the suite did not mark as
# its own, holding what a real machine holds. Every machine-changing test must
# skip, and the registry the tests touch, key security included, must be
# exactly as before.
set -eu
prefix=$1 tests=$2 snapshot=$3
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-prefix.sh" setup "$prefix" >/dev/null
trap '"$scripts/wine-prefix.sh" teardown "$prefix" >/dev/null' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Fixed heap placement where allowed, as in wine-run.sh.
if setarch -R true 2>/dev/null; then wine() { setarch -R wine "$@"; }; fi

seed() { wine reg add "$1" /v "$2" /d "$3" /f </dev/null >/dev/null 2>&1; }
wine reg add 'HKLM\SOFTWARE\Khronos\Vulkan\Drivers' /v 'C:\Drivers\vk_icd.json' /t REG_DWORD /d 0 \
  /f </dev/null >/dev/null 2>&1
seed 'HKLM\SOFTWARE\Khronos\OpenXR\1' ActiveRuntime 'C:\Runtimes\openxr.json'
seed 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' OtherProduct 'C:\Other\other.exe'
seed 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' UlvexHub 'C:\Ulvex\UlvexHub.exe'
seed 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' XR_RUNTIME_JSON 'C:\Runtimes\machine.json'
seed 'HKCU\Environment' XR_RUNTIME_JSON 'C:\Runtimes\user.json'

wine "$snapshot" </dev/null >"$prefix.before" 2>&1
status=0
wine "$tests" --gtest_output="xml:$(winepath -w "$prefix.xml")" </dev/null >"$prefix.log" 2>&1 ||
  status=$?
wine "$snapshot" </dev/null >"$prefix.after" 2>&1

failed=0
fail() { echo "FAIL: $*"; failed=1; }
[ "$status" -eq 0 ] || { cat "$prefix.log"; fail "the tests exited with $status"; }
diff "$prefix.before" "$prefix.after" || fail "the registry changed"
[ ! -e "$prefix/drive_c/Apps" ] || fail "C:\\Apps was created"
# One line per test: "Suite.Name result".
sed -n 's/.*<testcase name="\([^"]*\)".* result="\([^"]*\)".* classname="\([^"]*\)".*/\3.\1 \2/p' \
  "$prefix.xml" >"$prefix.results"
machine=$(grep -c '^Machine' "$prefix.results" || true)
others=$(grep -vc '^Machine' "$prefix.results" || true)
[ "$machine" -gt 0 ] && [ "$others" -gt 0 ] || fail "the test list is not what was expected"
grep '^Machine' "$prefix.results" | grep -v ' skipped$' | sed 's/^/ran: /' | grep . && fail "machine-changing tests ran"
grep -v '^Machine' "$prefix.results" | grep -v ' completed$' | sed 's/^/not run: /' | grep . && fail "other tests did not run"
[ "$failed" -eq 0 ] &&
  echo "all $machine machine-changing tests skipped, $others others ran, the registry unchanged"
exit "$failed"
