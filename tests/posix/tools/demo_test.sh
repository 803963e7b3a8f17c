#!/usr/bin/env bash
# The demo end to end: registration, one veltwmi session against the Java sample provider, then
# two veltwmi processes sharing the WMI service, and a query.
# Checks what a user sees of each operation and what the session leaves behind, and that the VM
# neither crashed nor warned.
set -uo pipefail
source_dir=$1
build=$2
source "$source_dir/tests/support/vm_session.sh"
work=$(mktemp -d "$build/demo-test.XXXXXX")
velt_private_runtime || exit 1
trap 'rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
export VELT_REGISTRY=$work/registry.db VELT_DEMO_DATA=$work/data
velt_install "$build" "$work/build" || exit 1

output=$(cd "$work" && "$source_dir/scripts/demo-run.sh" "$work/build" 2>"$work/stderr")
status=$?
echo "$output"
cat "$work/stderr" >&2
failures=0
expect() {  # expect DESCRIPTION EXTENDED-REGEX
  if ! grep -Eq -- "$2" <<<"$output"; then
    echo "MISSING: $1 (/$2/)" >&2
    failures=$((failures + 1))
  fi
}

[[ $status -eq 0 ]] || { echo "MISSING: exit code 0 (got $status)" >&2; failures=$((failures + 1)); }
expect "the registration in the demo's own registry" "LocalServer32"
expect "the class listing with its method" "method uint64 CollectGarbage\(out uint64 HeapUsedBefore, out uint64 HeapUsedAfter\)"
expect "enum: a heap pool row with numbers" "^G1 Old Gen +Heap memory +[0-9]+ +[0-9]+"
expect "get: the machine as a list" "^Processors +: [1-9][0-9]*$"
expect "watch + put in one session: the change event" '^\{"__CLASS": "NorvexJvm_SettingChanged", "Name": "Greeting", "OldValue": null, "NewValue": "hello from veltwmi"\}$'
expect "put: the written setting" "^Greeting +hello from veltwmi"
expect "call: the bytes freed and the heap before and after" "^[0-9]+ +[0-9]+ +[0-9]+$"
expect "watch: at least one heartbeat" "^Sequence +HeapUsed +ThreadCount"
expect "enum as MOF: the setting persisted" 'Value = "hello from veltwmi";'
expect "a watch in one process sees the put of another" '^\{"__CLASS": "NorvexJvm_SettingChanged", "Name": "Greeting", "OldValue": "hello from (veltwmi|another process)", "NewValue": "hello from another process"\}$'
expect "query: the selected heap pools, no other" "^Name +Used$"
expect "query: a G1 pool with its use" "^G1 [A-Za-z ]+ +[1-9][0-9]*$"
heartbeats=$(sed -n '/^== watch NorvexJvm_Heartbeat/,/^== enum NorvexJvm_Setting/p' <<<"$output" |
  grep -Ec '^[0-9]+ +[0-9]+ +[0-9]+$')
[[ $heartbeats -ge 1 ]] || { echo "MISSING: heartbeat rows" >&2; failures=$((failures + 1)); }
settings=$work/data/norvex-sample-settings.properties
grep -q '^Greeting=hello from another process$' "$settings" ||
  { echo "MISSING: $settings holds the setting" >&2; failures=$((failures + 1)); }
# The server ends by itself once the session has let go of it, and only then are its logs whole.
velt_wait_servers_end 20 || failures=$((failures + 1))
velt_vm_faults "$work" "$work/build" "$work/build/bin" || failures=$((failures + 1))
# Nothing may be left of the batch's failures.
if grep -q "the batch stops" "$work/stderr"; then
  echo "UNEXPECTED: a command failed" >&2
  failures=$((failures + 1))
fi
exit $((failures > 0))
