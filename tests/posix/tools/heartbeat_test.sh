#!/usr/bin/env bash
# The sample's heartbeat watched through the provider's server, a process of its own.
# - During a watch the server `VeltProxyProvider -Embedding` runs and veltwmi has no Java VM.
# - Several sessions in a row: the heartbeat thread outlives each session's namespace and sink,
#   and none may crash the VM or draw a JNI warning.
# - The server killed during a watch: the watch ends at once with the provider's failure and
#   exit code 1; the next command works with a new server.
set -uo pipefail
source_dir=$1
build=$2
java_home=$3
rounds=${4:-5}
source "$source_dir/tests/support/vm_session.sh"
work=$(mktemp -d "$build/heartbeat-test.XXXXXX")
velt_private_runtime || exit 1
failures=0
# A failed run keeps its folder and prints the logs kept at each failure: under load a failure
# may not come back when it is run again.
finish() {
  if ((failures > 0)); then
    velt_print_kept_logs "$work"
    echo "the folder of this failed run is kept: $work" >&2
  else
    rm -rf "$work"
  fi
  rm -rf "$XDG_RUNTIME_DIR"
}
trap finish EXIT
velt_install "$build" "$work" || exit 1
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:$java_home/lib/server
cd "$work" || exit 1
"$work/bin/VeltProxyProvider" -RegServer >/dev/null || { echo "registration failed" >&2; exit 1; }

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
  velt_keep_logs "$work" "failure-$failures"
}
heartbeats() { grep -Eq '^[0-9]+ +[0-9]+ +[0-9]+$' "$1"; }

# waits (at most 20 s) until a server of this test runs and prints its id.
await_server() {
  local server n
  for ((n = 0; n < 200; n++)); do
    server=$(velt_servers | head -1)
    [[ -n $server ]] && { echo "$server"; return 0; }
    sleep 0.1
  done
  return 1
}

# The processes.
"$work/bin/veltwmi" watch NorvexJvm_Heartbeat --for 3 >"$work/out" 2>&1 &
client=$!
server=$(await_server) || fail "no process VeltProxyProvider -Embedding during the watch"
grep -q 'libjvm\.so' "/proc/$client/maps" 2>/dev/null && fail "veltwmi has the Java VM loaded"
[[ -n $server ]] && ! grep -q 'libjvm\.so' "/proc/$server/maps" && fail "the server has no Java VM"
wait "$client" || fail "the watch ended with $?: $(cat "$work/out")"
heartbeats "$work/out" || fail "no heartbeat: $(cat "$work/out")"
velt_vm_faults "$work" "$work/bin" || failures=$((failures + 1))

# Sessions in a row.
for ((round = 1; round <= rounds; round++)); do
  "$work/bin/veltwmi" watch NorvexJvm_Heartbeat --for 2 >"$work/out" 2>&1
  status=$?
  if [[ $status -ne 0 ]] || ! heartbeats "$work/out"; then
    fail "round $round: exit $status, output:"$'\n'"$(cat "$work/out")"
  fi
  velt_vm_faults "$work" "$work/bin" || failures=$((failures + 1))
done

# The server killed during an open-ended watch, once its first heartbeat has arrived. The
# servers of the rounds are let go first: one still on its way out would be a second server
# here, and killing it would leave the watch's own running.
velt_wait_servers_end 20 || fail "the servers of the rounds did not end"
"$work/bin/veltwmi" watch NorvexJvm_Heartbeat >"$work/out" 2>"$work/err" &
client=$!
for ((n = 0; n < 200; n++)); do
  heartbeats "$work/out" && break
  sleep 0.1
done
server=$(velt_servers | head -1)
if [[ -z $server ]]; then
  fail "no server to kill"
  kill "$client"
else
  kill -9 "$server"
  # Bounded: the watch must end by itself within two seconds.
  for ((n = 0; n < 20; n++)); do
    kill -0 "$client" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$client" 2>/dev/null; then
    fail "the watch still runs two seconds after its server died"
    kill "$client"
  fi
fi
wait "$client"
status=$?
[[ $status -eq 1 ]] || fail "the watch whose server died ended with $status, not 1"
grep -q 'WBEM_E_PROVIDER_FAILURE' "$work/err" ||
  fail "the watch does not report the provider's failure: $(cat "$work/err")"
grep -q 'VeltProxyProvider.console.log' "$work/err" ||
  fail "the failure does not say where the server's output is: $(cat "$work/err")"

# The next command starts a new server.
"$work/bin/veltwmi" watch NorvexJvm_Heartbeat --for 2 >"$work/out" 2>&1 ||
  fail "the watch after the server died: $(cat "$work/out")"
heartbeats "$work/out" || fail "no heartbeat from the new server: $(cat "$work/out")"
[[ -n $server && $(velt_servers) == *$server* ]] && fail "the killed server $server still runs"
velt_vm_faults "$work" "$work/bin" || failures=$((failures + 1))
velt_wait_servers_end 20 || fail "the idle server did not end"
exit $((failures > 0))
