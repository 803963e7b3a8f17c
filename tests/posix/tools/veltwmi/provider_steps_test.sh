#!/usr/bin/env bash
# The README's steps for a provider of one's own, as written: the guide's provider class,
# service entry and jar made by its javac/jar recipe beside the server, the guide's MOF, then
# the README's own veltwmi commands.
# With the trace log on, the log has the form the README describes.
set -uo pipefail
source_dir=$1
build=$2
java_home=$3
source "$source_dir/tests/support/vm_session.sh"
work=$(mktemp -d)
velt_private_runtime || exit 1
trap 'rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
export PATH=$work/bin:$PATH:$java_home/lib/server
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# 1-3: the guide's provider, built by the guide's plain javac/jar recipe as it stands there,
# its jar beside the server.
guide=$source_dir/docs/WRITING_A_PROVIDER.md
mkdir -p "$work/bin" "$work/src/com/acme/printing"
cp "$build"/bin/{VeltProxyProvider,veltwmi,veltwmid,libqelvor.so,libvelt_platform.so,velt-sdk.jar,velt-glue.jar} "$work/bin/"
awk '/^```java$/{f=1; next} f&&/^```$/{exit} f' "$guide" \
  >"$work/src/com/acme/printing/PrinterProvider.java"
recipe=$(awk '/^With plain JDK tools:/{f=1} f&&/^```$/{n++; next} f&&n==1{print}' "$guide")
[[ $recipe == *"jar cf acme-printing.jar"* ]] || fail "the guide's javac/jar recipe"
(cd "$work" && PATH=$java_home/bin:$PATH bash -ec "${recipe//\/path\/to\/velt-sdk.jar/bin/velt-sdk.jar}") ||
  fail "the guide's recipe"
mv "$work/acme-printing.jar" "$work/bin/" || fail "the recipe made no acme-printing.jar"

# 4: the guide's MOF and the README's commands, run as they stand there.
awk '/^## 3/{f=1} f&&/^```$/{n++; next} f&&n==1{print}' "$guide" >"$work/acme.mof"
"$work/bin/VeltProxyProvider" -RegServer >/dev/null || fail "-RegServer"
touch "$work/bin/qelvor.dbg"
step4=$(awk '/^4\. /{f=1} f&&/^$/{exit} f' "$source_dir/README.md" | tr '\n' ' ' | tr -s ' ')
mapfile -t commands < <(grep -o '`veltwmi --mof acme.mof[^`]*`' <<<"$step4" | tr -d '`')
[[ ${#commands[@]} -ge 2 ]] || fail "step 4 names its veltwmi commands (${#commands[@]} found)"
cd "$work" || exit 1
for command in "${commands[@]}"; do
  output=$(eval "$command" 2>&1) || fail "$command: $output"
  echo "\$ $command"
  echo "$output"
done
# The provider's rows, aligned by display width (the second name is two wide characters).
grep -q '^laser  5$' <<<"$output" || fail "enum lists laser"
grep -q $'^\u5370\u5237   2$' <<<"$output" || fail "enum aligns wide characters"

# The trace log: the path, then records each followed by an empty line; the VM's messages in
# pieces, several records each. The server writes it until it has ended.
velt_wait_servers_end 20 || fail "the idle server did not end"
log=$work/bin/qelvor.log
[[ $(head -1 "$log") == "$work/bin/VeltProxyProvider" ]] || fail "the log starts with the path"
awk 'NR > 2 && prev ~ /^0x[0-9a-f]+ / && $0 != "" {bad++} {prev = $0} END {exit bad > 0}' "$log" ||
  fail "a record not followed by an empty line"
grep -q '^0x[0-9a-f]* \[jni,resolve\]$' "$log" || fail "the VM's messages arrive in pieces"
grep -n 'WARNING' "$work/bin/VeltProxyProvider.console.log" >&2 && fail "the VM warned"
exit $((failures > 0))
