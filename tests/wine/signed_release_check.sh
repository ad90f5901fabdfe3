#!/bin/sh
# signed_release_check.sh WORKDIR EXE E2E_TESTS_EXE WINE_RUN
# A release is signed after the build, so the build itself stays reproducible.
# Signs a copy of the exe with a certificate made here for this run, and checks
# that the signature verifies against it and that the signed copy still runs
# and still passes the image and resource checks.
set -eu
work=$1 exe=$2 tests=$3 wine_run=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Ulvex test signer" \
  -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
  -keyout signer.key -out signer.crt 2>/dev/null
osslsigncode sign -certs signer.crt -key signer.key -h sha256 -n "Ulvex Hub System Setup" \
  -in "$exe" -out UlvexSystemSetup.exe >/dev/null
rm signer.key
osslsigncode verify -CAfile signer.crt -in UlvexSystemSetup.exe >verify.log 2>&1 ||
  { cat verify.log; exit 1; }
# Without its signature the copy is the build, byte for byte: a signed release
# can be checked against anyone's rebuild.
osslsigncode remove-signature -in UlvexSystemSetup.exe -out unsigned.exe >/dev/null
cmp unsigned.exe "$exe"
# The suite's checks read the UlvexSystemSetup.exe next to them: the signed copy.
cp "$tests" .
"$wine_run" ./ulvex_e2e_tests.exe --gtest_filter='PeImage.*:Resources.*' >checks.log 2>&1 &&
  grep -qF '[  PASSED  ] 4 tests.' checks.log || { cat checks.log; exit 1; }
# A removal with nothing to remove: elevation check and registry read, no change.
"$wine_run" ./UlvexSystemSetup.exe --openxr-runtime-remove 'C:\signed\none.json' >run.log 2>&1 &&
  tr -d '\r' <run.log | grep -qx 'task=openxr-runtime-remove ok=1 code=0' || { cat run.log; exit 1; }
echo "signed copy verified; it runs and passes the image and resource checks"
