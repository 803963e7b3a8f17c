#!/usr/bin/env bash
# A veltwmi session whose provider crashes the Java VM, which runs in the provider's server
# process: the request fails with the provider's failure, the run ends with the VM's exit code
# and names the crash report of the server's VM, the report is beside the server (not in the
# user's current folder), and the next request starts a new server.
set -uo pipefail
build=$1 native=$2 jar=$3 mof=$4
source "$(dirname "$0")/../../../support/vm_session.sh"
work=$(mktemp -d)
velt_private_runtime || exit 1
trap 'rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
mkdir -p "$work/bin" "$work/cwd"
# The server is copied (its folder is where it looks for its jars and writes its logs); the
# rest is linked.
cp "$build/bin/veltwmi" "$build/bin/veltwmid" "$build/bin/VeltProxyProvider" "$work/bin/"
for file in "$build/bin/libqelvor.so" "$build/bin/libvelt_platform.so" "$build/bin/velt-glue.jar" "$build/bin/velt-sdk.jar" \
  "$jar" "$native"; do
  ln -s "$file" "$work/bin/"
done
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:/usr/lib/jvm/java-17-openjdk-amd64/lib/server
"$work/bin/VeltProxyProvider" -RegServer >/dev/null || { echo "cannot register" >&2; exit 1; }

cd "$work/cwd" || exit 1
failures=0
fail() { echo "FAULT: $1" >&2; failures=$((failures + 1)); }
# crashes KEY: runs the request, echoes its output; the report must be named and beside the server.
crashes() {
  rm -f "$work"/bin/hs_err_pid*.log
  timeout 120 "$work/bin/veltwmi" get "Velt_Crash.Name=\"$1\"" --mof "$mof" >"$work/out" 2>"$work/err"
  status=$?
  cat "$work/out"
  cat "$work/err" >&2
  [[ $status -ne 0 && $status -ne 124 ]] || fail "$1: veltwmi ended with $status after the VM crashed"
  compgen -G "$work/cwd/hs_err_pid*.log" >/dev/null && fail "$1: the crash report is in the current folder"
  report=$(compgen -G "$work/bin/hs_err_pid*.log" | head -1)
  [[ -n $report ]] || fail "$1: no crash report beside the server"
  [[ -n $report ]] && ! grep -qF "$report" "$work/err" && fail "$1: veltwmi does not name $report"
}

# The VM dies while the request is in progress: the request fails as the provider's.
crashes now
grep -q 'WBEM_E_PROVIDER_FAILURE' "$work/err" || fail "the request does not fail as the provider's"
# The answer came, but the VM was dying: the session still ends with the crash.
crashes later
velt_wait_servers_end 20 || fail "a server outlived its VM"
exit $((failures > 0))
