# Sourced by the tests that run veltwmi with the Java VM inside. The installation is a copy of
# the build's programs (hard links where the file system allows) with the trace log switched
# on, so that what the VM reports there (JNI warnings among it) can be read; crash files are
# pinned into the test's own folder.

# velt_install BUILD DIR: DIR/bin holds what the server and veltwmi need.
velt_install() {
  local bin=$2/bin file
  mkdir -p "$bin" || return 1
  for file in "$1"/bin/{VeltProxyProvider,veltwmi,veltreg,libqelvor.so,libvelt_platform.so,norvex_sample.mof} \
              "$1"/bin/*.jar; do
    ln "$file" "$bin/" 2>/dev/null || cp "$file" "$bin/" || return 1
  done
  touch "$bin/qelvor.dbg"
  export JAVA_TOOL_OPTIONS="${JAVA_TOOL_OPTIONS:-} -XX:ErrorFile=$2/hs_err_pid%p.log"
}

# velt_vm_faults DIR...: names each VM crash file in the folders and each warning in their
# trace logs; fails when there is any. Logs are emptied for the next run.
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
    if [[ -f $dir/qelvor.log ]]; then
      if grep -n "WARNING" "$dir/qelvor.log" >&2; then
        echo "VM WARNINGS in $dir/qelvor.log" >&2
        faults=$((faults + 1))
      fi
      : >"$dir/qelvor.log"
    fi
  done
  return $((faults > 0))
}
