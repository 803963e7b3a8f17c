#!/usr/bin/env bash
# A provider written against the SDK alone, through veltwmi: each way a request fails reaches
# the client with the provider's status and its own account of the failure, and the trace log
# names the provider and the exception's first frames. Beside it, providers that cannot be
# loaded fail only their own classes, saying why. The test providers beside them carry every
# type of the SDK through put and get and watch only their own namespace; the server says what
# it tried when no Java runtime is found, finds one under JAVA_HOME, and a runtime of Java 24 or
# later (the optional last argument) starts without warnings.
set -uo pipefail
source_dir=$1 build=$2 java_home=$3 faults_jar=$4 rival_jar=$5 mof=$6
providers_jar=$7 providers_mof=$8 newer_java_home=${9:-}
source "$source_dir/tests/support/vm_session.sh"
work=$(mktemp -d "$build/faults-test.XXXXXX")
velt_private_runtime || exit 1
trap 'rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
velt_install "$build" "$work" || exit 1
bin=$work/bin
jar=$java_home/bin/jar

# The faults jar, with one class file marked as built for Java 99; an old build of one of its
# providers in a jar of its own; a rival provider of one of its classes.
mkdir "$work/old" && cd "$work/old" || exit 1
"$jar" xf "$faults_jar" com/norvex/test/faults/FutureProvider.class \
  com/norvex/test/faults/TwiceProvider.class || exit 1
printf '\x00\x63' | dd of=com/norvex/test/faults/FutureProvider.class bs=1 seek=6 conv=notrunc \
  2>/dev/null || exit 1
cp "$faults_jar" "$bin/velt-test-faults.jar" && cp "$rival_jar" "$bin/velt-test-rival.jar" &&
  cp "$providers_jar" "$bin/velt-test-providers.jar" || exit 1
"$jar" uf "$bin/velt-test-faults.jar" com/norvex/test/faults/FutureProvider.class || exit 1
mkdir -p META-INF/services &&
  echo com.norvex.test.faults.TwiceProvider >META-INF/services/com.norvex.sysmgt.provider.WmiProvider
"$jar" cf "$bin/velt-test-twice-old.jar" META-INF com/norvex/test/faults/TwiceProvider.class ||
  exit 1

export VELT_REGISTRY=$work/registry.db XDG_DATA_HOME=$work/data
unset JAVA_HOME
plain_path=$PATH
export PATH=$PATH:$java_home/lib/server
cd "$work" || exit 1
"$bin/VeltProxyProvider" -RegServer >/dev/null || { echo "registration failed" >&2; exit 1; }

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# expect EXIT-CODE VELTWMI-ARGS... -- EXTENDED-REGEX...: every pattern is in the output (one
# written !REGEX is not), which has no warning of the VM. Requests go to $session_mofs in
# $session_namespace. Each request waits until the server of the one before has ended, so that
# it starts a server of its own with the environment it is given (the Java runtime it finds,
# its trace log afresh).
session_mofs=("$mof") session_namespace='root\veltfaults'
expect() {
  local code=$1 args=() output status pattern
  shift
  while [[ $1 != -- ]]; do args+=("$1"); shift; done
  shift
  local where=(--mof "${session_mofs[@]}")
  [[ -n $session_namespace ]] && where+=(--namespace "$session_namespace")
  output=$("$bin/veltwmi" "${where[@]}" "${args[@]}" 2>&1)
  status=$?
  velt_wait_servers_end 20 || fail "${args[*]}: the idle server did not end"
  if grep -Eq '^WARNING|^\s+at [[:alnum:]_.$]+\(' <<<"$output"; then
    fail "${args[*]}: warnings or stack traces in"$'\n'"$output"
  fi
  cat "$bin/qelvor.log" >>"$work/all.log"  # each session starts the log afresh
  [[ $status -eq $code ]] || fail "${args[*]}: exit $status, not $code"$'\n'"$output"
  for pattern in "$@"; do
    if [[ $pattern == '!'* ]]; then
      ! grep -Eq -- "${pattern:1}" <<<"$output" ||
        fail "${args[*]}: /${pattern:1}/ in"$'\n'"$output"
    else
      grep -Eq -- "$pattern" <<<"$output" || fail "${args[*]}: no /$pattern/ in"$'\n'"$output"
    fi
  done
  if grep -q "switch the trace log on" <<<"$output"; then
    fail "${args[*]}: tells the user to repeat the request"
  fi
}

# Errors that reach the client.
expect 0 get 'Velt_Fault.Name="well"' -- 'fine'
expect 1 get 'Velt_Fault.Name="absent"' -- 'WBEM_E_NOT_FOUND'
expect 1 get 'Velt_Fault.Name="crash"' -- 'WBEM_E_FAILED \(0x80041001\)' \
  'java.lang.IllegalStateException: disk d1 is offline \(provider com.norvex.test.faults.FaultyProvider\)' \
  'provider: com.norvex.test.faults.FaultyProvider, operation: GetObject'
expect 1 get 'Velt_Fault.Name="denied"' -- 'WBEM_E_ACCESS_DENIED' 'no access to d1'
expect 1 get 'Velt_Fault.Name="invalid"' -- 'WBEM_E_INVALID_PARAMETER' 'Name is not a disk'
expect 1 enum Velt_Fault -- 'WBEM_E_FAILED' 'the disk list is locked' 'CreateInstanceEnum'
expect 1 put Velt_Fault Name=well Label=new -- 'WBEM_E_NOT_SUPPORTED' 'cannot put instances'
expect 1 call 'Velt_Fault.Name="well"' Reset -- 'WBEM_E_FAILED' 'Reset failed' 'ExecMethod'

# One bad provider fails only itself.
expect 1 get 'Velt_Shared.Name="a"' -- 'WBEM_E_PROVIDER_LOAD_FAILURE' \
  'SharedProvider \(velt-test-faults.jar\) and com.norvex.test.rival.RivalProvider \(velt-test-rival.jar\)'
expect 1 get 'Velt_Twice.Name="a"' -- 'WBEM_E_PROVIDER_LOAD_FAILURE' \
  'TwiceProvider of class Velt_Twice is in more than one jar' 'velt-test-twice-old.jar' \
  'velt-test-faults.jar'
expect 1 get 'Velt_Broken.Name="a"' -- 'WBEM_E_PROVIDER_LOAD_FAILURE' \
  'BrokenProvider .*configuration /etc/velt-broken.conf is missing' \
  'Ghost .*ClassNotFoundException' 'FutureProvider .*UnsupportedClassVersionError'

# The SDK's types through put and get: uint64 above 2^63, datetime and interval, an array of
# every scalar type at the edges of its range, a null left null; what put prints was read back
# from the provider.
session_mofs=("$providers_mof") session_namespace='root\veltsdk'
types=(Id=t1 U64=18446744073709551615 Huge=9223372036854775808 B=true
  When=20240229235958.123456-330 Span=12345678235958.000001:000
  'U64s=18446744073709551615,0,9223372036854775808' 'Bs=true,false,true' 'Texts={"a,b", Ωmega}'
  S8s=-128,127 U8s=0,255 S16s=-32768,32767 U16s=65535 S32s=-2147483648,0 U32s=4294967295
  S64s=-9223372036854775808,9223372036854775807 R32s=0.25,-2 R64s=1e-300 Cs=Ω,a
  Whens=20240229235958.123456-330 Spans=12345678235958.000001:000,00000000000000.000000:000)
types_out=('U64 +: 18446744073709551615$' 'Huge +: 9223372036854775808$' 'B +: (TRUE|true)$'
  'When +: 20240229235958.123456-330$' 'Span +: 12345678235958.000001:000$'
  'U64s +: \{?18446744073709551615, ?0, ?9223372036854775808\}?$'
  'Bs +: \{?(TRUE|true), ?(FALSE|false), ?(TRUE|true)\}?$' 'Texts +: \{"a,b", "?Ωmega"?\}$'
  'S8s +: \{-128, 127\}$' 'U8s +: \{0, 255\}$' 'S16s +: \{-32768, 32767\}$' 'U16s +: \{65535\}$'
  'S32s +: \{-2147483648, 0\}$' 'U32s +: \{4294967295\}$'
  'S64s +: \{-9223372036854775808, 9223372036854775807\}$' 'R32s +: \{0.25, -2\}$'
  'R64s +: \{1e-300\}$' 'Cs +: \{Ω, a\}$' 'Whens +: \{20240229235958.123456-330\}$'
  'Spans +: \{12345678235958.000001:000, 00000000000000.000000:000\}$' 'Nothing +: $')
expect 0 put Velt_Types "${types[@]}" --format list -- "${types_out[@]}"
expect 0 run - --format list <<<"put Velt_Types ${types[*]@Q}"$'\nget Velt_Types.Id="t1"' -- \
  "${types_out[@]}"

# An embedded object a provider makes in the server reaches the client whole.
expect 0 run - --format json <<<$'put Velt_Disk Name=d9 Size=7\nget Velt_Disk.Name="d9"' -- \
  '"Usage": \{"__CLASS": "Velt_DiskUsage", "Disk": "d9", "Used": "?7"?\}'

# Events stay in their namespace: a watch here starts neither the sample's heartbeat nor
# anything else that cannot fire here (the server's console says nothing of the sample), and a
# put whose event cannot be filled still succeeds, the event's failure told in the console.
expect 0 run - <<<$'watch Velt_DiskEvent --for 3\nput Velt_Disk Name=d1 Size=1\nput Velt_Disk Name=bad1 Size=2\nwait' -- \
  '^d1$' '^bad1 +2( |$)'
console=$bin/VeltProxyProvider.console.log
grep -q 'Event Velt_DiskEvent in root.veltsdk not delivered' "$console" ||
  fail "the event that could not be filled is not reported in the server's console"
grep -n 'NorvexJvm' "$console" >&2 && fail "the sample's events were started in root\veltsdk"

# Finding the Java runtime: without one on PATH and without JAVA_HOME the client learns what
# was tried and how to mend it; JAVA_HOME is tried last.
session_mofs=("$mof") session_namespace='root\veltfaults'
PATH=$plain_path expect 1 get 'Velt_Fault.Name="well"' -- 'WBEM_E_PROVIDER_LOAD_FAILURE' \
  'The Java runtime was not found. Tried: .*/bjre/lib/server/libjvm.so; .*libjvm.so through the library search \(PATH\)' \
  'put the folder holding libjvm.so on PATH, or set JAVA_HOME' 'operation: Initialize'
PATH=$plain_path JAVA_HOME=$java_home expect 0 get 'Velt_Fault.Name="well"' -- 'fine'
if [[ -n $newer_java_home ]]; then
  PATH=$plain_path JAVA_HOME=$newer_java_home expect 0 get 'Velt_Fault.Name="well"' -- 'fine'
  session_mofs=("$providers_mof") session_namespace='root\veltsdk'
  PATH=$plain_path JAVA_HOME=$newer_java_home expect 0 put Velt_Types "${types[@]}" \
    --format list -- "${types_out[@]}"
fi

# check looks inside the jars: a registered class no provider serves, a class two providers
# serve, an event class no provider fires (beside one that a provider does fire), and a
# provider whose class no MOF declares.
session_mofs=("$mof" "$providers_mof" "$source_dir/tests/java/faults/quiet_events.mof")
session_namespace=''
expect 1 check -- \
  'root\\veltquiet: error: class Velt_QuietEvent: the EventQueryList names it, but no event provider in the jars fires it' \
  '!Velt_DiskEvent' \
  'root\\veltfaults: error: class Velt_Shared: class Velt_Shared has more than one provider' \
  'root\\veltfaults: error: class Velt_Twice: provider .*TwiceProvider of class Velt_Twice is in more than one jar' \
  'root\\veltfaults: error: class Velt_Broken: its provider is registered, but no provider in the jars serves it; provider com.norvex.test.faults.Ghost' \
  'jars: warning: provider com.norvex.samples.jvm.RuntimeProvider \(norvex-sample.jar\) serves class NorvexJvm_Runtime, which no loaded MOF declares'

log=$work/all.log
grep -q 'Provider com.norvex.test.faults.FaultyProvider failed in getInstance: java.lang.IllegalStateException: disk d1 is offline' "$log" ||
  fail "the trace names neither the provider nor the exception"
grep -q 'at com.norvex.test.faults.FaultyProvider.getInstance(FaultyProvider.java' "$log" ||
  fail "the trace has no stack frame"
grep -q 'Caused by: java.io.UncheckedIOException: java.io.IOException: device busy' "$log" ||
  fail "the trace has not the cause"
grep -q 'The Glue failed: .*BrokenProvider .*configuration /etc/velt-broken.conf is missing' "$log" ||
  fail "the trace has not why a provider could not be loaded"
grep -n 'A JNI Exception occurred' "$log" >&2 && fail "a provider's exception called a JNI exception"
grep -n 'WARNING' "$log" >&2 && fail "the VM warned"
[[ $failures -eq 0 ]] || sed -n '1,200p' "$log" >&2
velt_vm_faults "$work" "$bin" || failures=$((failures + 1))
exit $((failures > 0))
