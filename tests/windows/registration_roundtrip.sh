#!/bin/sh
# The server's registration round trip against Wine's registry, with the trace log on.
# Usage: registration_roundtrip.sh <wine loader> <server executable> <work folder>
set -eu
wine=$1
server=$2
work=$3

clsid='{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}'
friendly='NorvexVelt Proxy Provider, Release 1.0'
progid='NorvexVeltProxyProvider.Cmpnt1.1'
viprogid='NorvexVeltProxyProvider.Cmpnt1'

fail() { echo "FAILED: $*" >&2; exit 1; }

# A folder of its own, with a space in its name, so the marker file turns on no other log.
folder="$work/round trip"
rm -rf "$folder"
mkdir -p "$folder"
cp "$server" "$folder/VeltProxyProvider.exe"
: >"$folder/qelvor.dbg"
exe="$folder/VeltProxyProvider.exe"

query() {  # query <key> [value-switch]: the key's entries and values, or a failure
  "$wine" reg query "HKEY_CLASSES_ROOT\\$1" /s 2>/dev/null | tr -d '\r'
}
expect_value() {  # expect_value <key> <text>
  query "$1" | grep -qF "$2" || fail "HKCR\\$1 does not hold \"$2\""
}

"$wine" "$exe" -RegServer || fail "-RegServer exited with $?"
windows_exe=$("$wine" winepath -w "$exe" | tr -d '\r')
expect_value "CLSID\\$clsid" "$friendly"
expect_value "CLSID\\$clsid\\LocalServer32" "$windows_exe"
expect_value "CLSID\\$clsid\\ProgID" "$progid"
expect_value "CLSID\\$clsid\\VersionIndependentProgID" "$viprogid"
expect_value "$viprogid" "$friendly"
expect_value "$viprogid\\CLSID" "$clsid"
expect_value "$viprogid\\CurVer" "$progid"
expect_value "$progid" "$friendly"
expect_value "$progid\\CLSID" "$clsid"
# A path with spaces is quoted, so that the process start cannot read a shorter prefix.
query "CLSID\\$clsid\\LocalServer32" | grep -qF "\"$windows_exe\"" || fail "LocalServer32 is not quoted"

first_line=$(head -n 1 "$folder/qelvor.log" | tr -d '\r')
[ "$first_line" = "$windows_exe" ] || fail "qelvor.log starts with \"$first_line\", not \"$windows_exe\""

"$wine" "$exe" -UnregServer || fail "-UnregServer exited with $?"
for key in "CLSID\\$clsid" "$viprogid" "$progid"; do
  if "$wine" reg query "HKEY_CLASSES_ROOT\\$key" >/dev/null 2>&1; then
    fail "HKCR\\$key is still there after -UnregServer"
  fi
done
# Unregistering again finds nothing and still succeeds.
"$wine" "$exe" -UnregServer || fail "a second -UnregServer exited with $?"
echo "1 passed, 0 failed"
