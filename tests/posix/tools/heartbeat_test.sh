#!/usr/bin/env bash
# The sample's heartbeat watched to the end of the session, several sessions in a row: the
# heartbeat thread outlives each session's namespace and sink, and none may crash the VM or
# draw a JNI warning.
set -uo pipefail
source_dir=$1
build=$2
java_home=$3
rounds=${4:-5}
source "$source_dir/tests/support/vm_session.sh"
work=$(mktemp -d "$build/heartbeat-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
velt_install "$build" "$work" || exit 1
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:$java_home/lib/server
cd "$work" || exit 1
"$work/bin/VeltProxyProvider" -RegServer >/dev/null || { echo "registration failed" >&2; exit 1; }

failures=0
for ((round = 1; round <= rounds; round++)); do
  "$work/bin/veltwmi" watch NorvexJvm_Heartbeat --for 2 >"$work/out" 2>&1
  status=$?
  if [[ $status -ne 0 ]] || ! grep -Eq '^[0-9]+ +[0-9]+ +[0-9]+$' "$work/out"; then
    echo "round $round: exit $status, output:" >&2
    cat "$work/out" >&2
    failures=$((failures + 1))
  fi
  velt_vm_faults "$work" "$work/bin" || failures=$((failures + 1))
done
exit $((failures > 0))
