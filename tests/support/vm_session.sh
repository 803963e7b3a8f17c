# Sourced by the tests that run veltwmi, whose provider server (with the Java VM inside) COM
# starts as a process of its own. The installation is a copy of the build's programs (hard
# links where the file system allows) with the trace log switched on, so that what the VM
# reports there and in the server's console log (JNI warnings among it) can be read; crash
# files are pinned into the test's own folder.

# velt_private_runtime: the servers this test starts publish their endpoints in a private
# runtime folder (0700) of its own, so those of tests running at once never meet; the servers
# inherit it from the client that starts them. The folder is short, under /tmp, as a socket's
# path must stay short; the caller removes $XDG_RUNTIME_DIR when it ends.
# The WMI service (veltwmid) the test's veltwmi starts is private to it the same way, and its
# settings (in a private XDG_CONFIG_HOME inside that folder) keep a provider for a second after
# its last request (long enough for the requests of one command, a put and its reading back)
# and end the service a second after, so the test soon sees its processes end.
velt_private_runtime() {
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/velt-run.XXXXXX) || return 1
  chmod 0700 "$XDG_RUNTIME_DIR" && export XDG_RUNTIME_DIR
  export XDG_CONFIG_HOME=$XDG_RUNTIME_DIR/config
  mkdir -p "$XDG_CONFIG_HOME/norvexvelt" &&
    printf 'provider-idle-seconds = 1\ndaemon-idle-seconds = 1\n' \
      >"$XDG_CONFIG_HOME/norvexvelt/veltwmid.conf"
}

# velt_servers: the process ids of the provider servers that serve this test's runtime folder;
# velt_services: those of its WMI services (veltwmid).
velt_servers() { velt_processes 'VeltProxyProvider -Embedding'; }
velt_services() { velt_processes 'veltwmid -Embedding'; }
velt_processes() {
  local pid
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" &&
      echo "$pid"
  done
}

# velt_wait_servers_end [SECONDS]: waits (10 s unless told) until the lifetime rule has ended
# every server and WMI service of this test; fails, naming them, when some still run.
velt_wait_servers_end() {
  local tenths=$((${1:-10} * 10)) left
  while ((tenths-- > 0)); do
    left=$(velt_servers; velt_services)
    [[ -z $left ]] && return 0
    sleep 0.1
  done
  echo "servers still running: $left" >&2
  return 1
}

# velt_install BUILD DIR: DIR/bin holds what the server and veltwmi need.
velt_install() {
  local bin=$2/bin file
  mkdir -p "$bin" || return 1
  for file in "$1"/bin/{VeltProxyProvider,veltwmi,veltwmid,veltreg,libqelvor.so,libvelt_platform.so,norvex_sample.mof} \
              "$1"/bin/*.jar; do
    ln "$file" "$bin/" 2>/dev/null || cp "$file" "$bin/" || return 1
  done
  touch "$bin/qelvor.dbg"
  export JAVA_TOOL_OPTIONS="${JAVA_TOOL_OPTIONS:-} -XX:ErrorFile=$2/hs_err_pid%p.log"
}

# velt_vm_faults DIR...: names each VM crash file in the folders and each warning in their
# trace logs and server console logs; fails when there is any. Logs are emptied for the next
# run.
velt_vm_faults() {
  local faults=0 dir file
  for dir in "$@"; do
    for file in "$dir"/hs_err_pid*.log; do
      [[ -e $file ]] || continue
      echo "VM CRASH: $file" >&2
      head -n 20 "$file" >&2
      rm -f "$file"
      faults=$((faults + 1))
    done
    for file in "$dir/qelvor.log" "$dir/VeltProxyProvider.console.log"; do
      [[ -f $file ]] || continue
      if grep -n "WARNING" "$file" >&2; then
        echo "VM WARNINGS in $file" >&2
        faults=$((faults + 1))
      fi
      : >"$file"
    done
  done
  return $((faults > 0))
}

# velt_keep_logs WORK LABEL: copies what the processes of this test logged so far (the
# programs' console logs and the trace log beside them, the logs of servers started by a
# relative command in the runtime folder) into WORK/kept/LABEL, as velt_vm_faults empties
# them for the next run and the test removes its folder: the logs of a failure are read later.
velt_keep_logs() {
  local kept=$1/kept/$2 file
  mkdir -p "$kept" || return 1
  for file in "$1"/bin/*.log "$XDG_RUNTIME_DIR"/norvexvelt/*.log; do
    [[ -f $file ]] && cp "$file" "$kept/"
  done
  return 0
}

# velt_print_kept_logs WORK: prints every log velt_keep_logs kept, the end of each.
velt_print_kept_logs() {
  local file
  for file in "$1"/kept/*/*; do
    [[ -f $file ]] || continue
    echo "---- ${file#"$1"/kept/} (last 200 lines)" >&2
    tail -n 200 "$file" >&2
  done
}
