#!/usr/bin/env bash
# Runs the demo against a finished build folder: registers the server, then one veltwmi
# session that enumerates, gets, puts, calls and watches what the Java sample provider serves,
# then two veltwmi processes at once, a watch seeing the put of the other, and a WQL query.
# Every veltwmi is a client of one WMI service, veltwmid, which the first one starts.
# The registry is a file under the build folder unless VELT_REGISTRY names another; the
# sample's settings land under the build folder too (its TEMPDIR comes from XDG_DATA_HOME),
# or in VELT_DEMO_DATA.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
bin=$build/bin
export VELT_REGISTRY=${VELT_REGISTRY:-$build/registry.db}
export XDG_DATA_HOME=${VELT_DEMO_DATA:-$build/demo-data}
# The server finds the Java runtime through the library search path when no runtime is
# installed beside it.
java_home=/usr/lib/jvm/java-17-openjdk-amd64
export PATH=$PATH:$java_home/lib/server

echo "== registry: $VELT_REGISTRY"
echo "== VeltProxyProvider -RegServer"
VELT_DEBUG_OUTPUT=1 "$bin/VeltProxyProvider" -RegServer
"$bin/veltreg" query 'HKCR\CLSID\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}\LocalServer32'
"$bin/veltwmi" run "$here/demo-session.txt"

seen=$(mktemp)
trap 'rm -f "$seen"' EXIT
event_query="SELECT * FROM NorvexJvm_SettingChanged WHERE Name = 'Greeting'"
echo "== veltwmi watch \"$event_query\" --format json   (one process)"
echo "== veltwmi put NorvexJvm_Setting Name=Greeting \"Value=hello from another process\"   (another)"
"$bin/veltwmi" watch "$event_query" --for 60 --format json >"$seen" &
watcher=$!
# The watch subscribes while its process starts: the other process puts until the watch shows
# the change (each put fires one).
for _ in $(seq 120); do
  "$bin/veltwmi" put NorvexJvm_Setting Name=Greeting "Value=hello from another process" >/dev/null
  sleep 0.25
  grep -q NorvexJvm_SettingChanged "$seen" && break
done
kill -TERM "$watcher" 2>/dev/null || true
wait "$watcher" || true
head -n 1 "$seen"
grep -q NorvexJvm_SettingChanged "$seen" || { echo "the watch saw no change" >&2; exit 1; }

pools="SELECT Name, Used FROM NorvexJvm_MemoryPool WHERE Name LIKE 'G1%' AND Used > 0"
echo "== veltwmi query \"$pools\""
"$bin/veltwmi" query "$pools"
