#!/usr/bin/env bash
# Several veltwmi sessions write the sample's settings at once through the one server they
# share: every write is kept, none reports a failure, and one server with one Java VM served
# them all.
set -uo pipefail
build=$1
java_home=$2
source "$(dirname "$0")/../../../support/vm_session.sh"
work=$(mktemp -d)
velt_private_runtime || exit 1
trap 'rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
velt_install "$build" "$work" || exit 1
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:$java_home/lib/server
cd "$work" || exit 1
"$work/bin/VeltProxyProvider" -RegServer >/dev/null || exit 1

writers=4 puts=12
for w in $(seq $writers); do
  for p in $(seq $puts); do echo "put NorvexJvm_Setting Name=W${w}P${p} Value=v$p"; done |
    "$work/bin/veltwmi" run - >"$work/out$w" 2>&1 &
done
failures=0
for job in $(jobs -p); do
  wait "$job" || failures=$((failures + 1))
done
grep -h veltwmi: "$work"/out*
settings=$(find "$work/data" -name norvex-sample-settings.properties)
kept=$(grep -c '^W[0-9]*P[0-9]*=v' "$settings")
echo "writers failed: $failures; settings kept: $kept of $((writers * puts))"
leftovers=$(find "$work/data" -name '*.new' | wc -l)
[[ $failures -eq 0 && $kept -eq $((writers * puts)) && $leftovers -eq 0 ]] || exit 1
velt_wait_servers_end 20 || exit 1
# Each server says in the first line of its console log that the VM picked up the test's
# options; the writers started at once must have started one.
vms=$(grep -c 'Picked up JAVA_TOOL_OPTIONS' "$work/bin/VeltProxyProvider.console.log")
echo "Java VMs started: $vms"
[[ $vms -eq 1 ]] || exit 1
velt_vm_faults "$work" "$work/bin" || exit 1
