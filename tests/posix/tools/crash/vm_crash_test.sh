#!/usr/bin/env bash
# A veltwmi session whose provider crashes the Java VM: the run must end with a failure that
# names the VM's crash report, and the report must not land in the user's current folder.
# The provider answers only once the VM has begun its report, and the VM's OnError command
# holds the dying VM until veltwmi has ended, so the session always ends before the VM does.
set -uo pipefail
build=$1 native=$2 jar=$3 mof=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/cwd"
cp "$build/bin/veltwmi" "$work/bin/"
for file in "$build/bin/libqelvor.so" "$build/bin/libvelt_platform.so" "$build/bin/velt-glue.jar" "$build/bin/velt-sdk.jar" \
  "$jar" "$native"; do
  ln -s "$file" "$work/bin/"
done
cat >"$work/hold.sh" <<'HOLD'
#!/bin/sh
# Waits (at most a minute) until the process whose VM is dying has ended.
exec </dev/null >/dev/null 2>&1
n=0
while kill -0 "$1" && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
HOLD
chmod +x "$work/hold.sh"
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:/usr/lib/jvm/java-17-openjdk-amd64/lib/server
"$build/bin/VeltProxyProvider" -RegServer >/dev/null || { echo "cannot register" >&2; exit 1; }

cd "$work/cwd"
JAVA_TOOL_OPTIONS="${JAVA_TOOL_OPTIONS:-} '-XX:OnError=$work/hold.sh %p'" \
  timeout 120 "$work/bin/veltwmi" get 'Velt_Crash.Name="x"' --mof "$mof" >"$work/out" 2>"$work/err"
status=$?
cat "$work/out"
cat "$work/err" >&2
failures=0
fail() { echo "FAULT: $1" >&2; failures=$((failures + 1)); }
[[ $status -ne 0 && $status -ne 124 ]] || fail "veltwmi ended with $status after the VM crashed"
compgen -G "$work/cwd/hs_err_pid*.log" >/dev/null && fail "the crash report is in the current folder"
report=$(compgen -G "$work/bin/hs_err_pid*.log" | head -1)
[[ -n $report ]] || fail "no crash report beside the server"
[[ -n $report ]] && ! grep -qF "$report" "$work/err" && fail "veltwmi does not name $report"
exit $((failures > 0))
