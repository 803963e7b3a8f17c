#!/usr/bin/env bash
# Runs the demo against a finished build folder: the server's registration round trip.
# The registry is a file under the build folder unless VELT_REGISTRY names another.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
export VELT_REGISTRY=${VELT_REGISTRY:-$build/registry.db}
server=$build/bin/VeltProxyProvider
veltreg=$build/bin/veltreg
class_key='HKCR\CLSID\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}'
prog_ids=('HKCR\NorvexVeltProxyProvider.Cmpnt1' 'HKCR\NorvexVeltProxyProvider.Cmpnt1.1')

show_entries() {
  for key in "$class_key" "${prog_ids[@]}"; do
    "$veltreg" query "$key" /s || true
  done
}

echo "== registry file: $VELT_REGISTRY"
echo "== $server -RegServer"
VELT_DEBUG_OUTPUT=1 "$server" -RegServer
show_entries
echo "== $server -UnregServer"
VELT_DEBUG_OUTPUT=1 "$server" -UnregServer
echo "== the entries are gone:"
show_entries
