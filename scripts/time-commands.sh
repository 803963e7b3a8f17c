#!/usr/bin/env bash
# Times whole veltwmi commands side by side in one hyperfine run, in an environment of their own
# (registry, repository, runtime folder, daemon settings): the client's own start (--help), a
# get served warm (daemon running, provider loaded) and a get served cold (no daemon, no provider
# server: each run starts both and the Java VM).
# Usage: scripts/time-commands.sh [build-folder] [hyperfine options...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/deps.sh" hyperfine
build=$(cd "${1:-build}" && pwd)
shift || true
bin=$build/bin

work=$(mktemp -d /tmp/velt-time.XXXXXX)
chmod 700 "$work"
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/norvexvelt"
chmod 700 "$XDG_RUNTIME_DIR"
# A loaded provider stays for the warm runs; the cold runs end both processes themselves.
printf 'provider-idle-seconds = 600\ndaemon-idle-seconds = 600\n' \
  >"$XDG_CONFIG_HOME/norvexvelt/veltwmid.conf"
export PATH=$PATH:/usr/lib/jvm/java-17-openjdk-amd64/lib/server

# The processes of this environment alone: their runtime folder is ours.
ours() {
  local pid
  for pid in $(pgrep -f "$bin/(veltwmid|VeltProxyProvider)" || true); do
    # No pipe: under pipefail a reader that stops at the match would fail its writer.
    grep -qxzF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
  done
  return 0  # a last process of another environment must not fail the caller under errexit
}
stop_all() {
  local pids
  pids=$(ours)
  [[ -n $pids ]] && kill -9 $pids 2>/dev/null
  for _ in $(seq 100); do [[ -z $(ours) ]] && return 0; sleep 0.05; done
}
trap 'stop_all; rm -rf "$work"' EXIT
export -f ours stop_all
export bin

"$bin/VeltProxyProvider" -RegServer
get=("$bin/veltwmi" get 'NorvexJvm_OperatingSystem.Name="Linux"')
"${get[@]}" >/dev/null  # compiles the sample into the repository, registers the daemon

# One preparation per command, in order: only the cold get ends the processes first. No shell
# runs the commands: at --help's few milliseconds, subtracting a shell's start measured apart
# costs more accuracy than it gains.
hyperfine --shell=none --warmup 3 --min-runs 20 "$@" \
  --prepare true --prepare true --prepare 'bash -c stop_all' \
  --command-name 'veltwmi --help' --command-name 'veltwmi get (warm)' \
  --command-name 'veltwmi get (cold)' \
  "$bin/veltwmi --help" "${get[*]@Q}" "${get[*]@Q}"
