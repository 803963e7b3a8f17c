#!/usr/bin/env bash
# Runs a test program that starts the Java VM. The VM's crash file goes to a folder of this run
# and fails the run whatever the exit code: a VM dying while the process ends can still exit 0.
crashes=$(mktemp -d)
trap 'rm -rf "$crashes"' EXIT
export JAVA_TOOL_OPTIONS="${JAVA_TOOL_OPTIONS:-} -XX:ErrorFile=$crashes/hs_err_pid%p.log"
"$@"
status=$?
for file in "$crashes"/hs_err_pid*.log; do
  [[ -e $file ]] || continue
  echo "VM CRASH: $file"
  head -n 40 "$file"
  status=1
done
exit $status
