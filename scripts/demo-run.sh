#!/usr/bin/env bash
# Runs the demo against a finished build folder: registers the server, then one veltwmi
# session that enumerates, gets, puts, calls and watches what the Java sample provider serves.
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
exec "$bin/veltwmi" run "$here/demo-session.txt"
