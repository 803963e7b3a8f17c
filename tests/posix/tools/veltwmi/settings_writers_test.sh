#!/usr/bin/env bash
# Several veltwmi sessions, each with its own server and Java VM, write the sample's settings at
# once: every write is kept and none reports a failure.
set -uo pipefail
build=$1
java_home=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$PATH:$java_home/lib/server
cd "$work" || exit 1
"$build/bin/VeltProxyProvider" -RegServer >/dev/null || exit 1

writers=4 puts=12
for w in $(seq $writers); do
  for p in $(seq $puts); do echo "put NorvexJvm_Setting Name=W${w}P${p} Value=v$p"; done |
    "$build/bin/veltwmi" run - >"$work/out$w" 2>&1 &
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
if ls "$work"/hs_err_pid*.log >/dev/null 2>&1; then echo "the Java VM crashed" >&2; exit 1; fi
