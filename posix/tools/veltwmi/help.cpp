// The usage texts.
#include "app.h"

namespace veltwmi {
namespace {

constexpr const char* kToolHelp =
    R"(veltwmi - a client for the WMI service stand-in and the providers it hosts

Usage: veltwmi [options] COMMAND [operands]
       veltwmi [options] run [SCRIPT]      (or commands on standard input)

Commands:
  enum CLASS                      list the instances of CLASS
  get PATH                        one instance, e.g. 'NorvexJvm_Runtime.Name="jvm"'
  put CLASS Prop=Value ...        create an instance, or change the named properties of an
                                  existing one (the keys say which)
  call PATH METHOD Param=Value ...
                                  execute a method; PATH is an instance path or a class name
  query "WQL"                     the instances a WQL data query selects, e.g.
                                  "SELECT Name, Size FROM Gadget WHERE Size > 10"
  watch EVENTCLASS|"EVENT QUERY" [--for SECONDS]
                                  print events as they come, until Ctrl-C or SECONDS
  classes [CLASS]                 the classes of the repository: keys, properties, methods
  mofcomp FILE.mof...             compile class definitions and provider registrations into
                                  the repository; prints what each file added or replaced
  check                           cross-checks the repository and the registry: classes without
                                  a provider, registrations that match nothing, unknown
                                  qualifiers, an unregistered server (exit 1 on an error)
  run [SCRIPT]                    run the commands of SCRIPT (standard input without it or
                                  with -) in one session
  help [COMMAND]                  this text, or a command's

Options (anywhere on the line):
  --mof FILE...                   compile these into the repository first (without it, the
                                  sample's MOF beside veltwmi is compiled when the repository
                                  lacks the sample's namespace)
  -n, --namespace NAME            the namespace (default root\norvex\sample)
  -f, --format table|list|json|mof
                                  table for people (default), list of Name : Value blocks,
                                  JSON for scripts, MOF instance declarations
  -h, --help                      usage of the tool or of the command

Values are typed by the class definition: integers (decimal or 0x hex, range-checked),
real32/real64, boolean (true/false, yes/no, 1/0), datetime (yyyymmddHHMMSS.mmmmmm+UUU),
char16, string. Arrays: a,b,c or {a, "b,c"}; double quotes keep commas. An empty value is
NULL (for strings: the empty string).

Classes and provider registrations live in the repository,
$XDG_DATA_HOME/norvexvelt/repository.db (~/.local/share without XDG_DATA_HOME), which every
veltwmi shares and which keeps what was compiled until it is compiled again.

Requests go to the WMI service every veltwmi of the user shares, veltwmid: COM starts it on
first use (veltwmi registers the veltwmid beside it when none is registered) and it ends when
idle; what it prints goes to veltwmid.console.log beside it. It keeps each provider loaded for
a while after its last request, so what one veltwmi puts another reads, and a watch sees what
another process's put caused. The provider's server is a process of its own
(VeltProxyProvider -Embedding, with the Java VM), which COM starts for the service from its
registration (VeltProxyProvider -RegServer, in the registry named by VELT_REGISTRY); it ends
when idle. What it prints goes to VeltProxyProvider.console.log beside it.

Exit codes:
  0    success
  1    the request failed; the message names the WMI status and its code
  2    usage: bad option or operand, unknown class, property, method or parameter, a value
       that does not fit its type, a query the service refuses as malformed
  3    setup: a MOF file unreadable or faulty (file:line:column: fault), an unknown
       namespace, a repository that cannot be opened
  4    the provider's Java VM crashed; the message names its crash report
  130  interrupted by Ctrl-C before the request completed (a watch ends normally with 0)
)";

constexpr const char* kEnumHelp = R"(Usage: veltwmi enum CLASS [--format F] [--namespace NS]

Lists every instance of CLASS as the provider delivers it. A table waits for the last row so
that every column fits its widest cell; list and json print each row as it arrives. On a
terminal stderr shows how many rows have arrived. JSON output is one array.
)";

constexpr const char* kGetHelp = R"(Usage: veltwmi get PATH [--format F] [--namespace NS]

Fetches one instance by its object path, for example
  veltwmi get 'NorvexJvm_MemoryPool.Name="Metaspace"'
  veltwmi get 'NorvexJvm_Thread.Id=1'
The path must name every key of the class and nothing else (usage error otherwise). A path
that does not parse fails with WBEM_E_INVALID_OBJECT_PATH (0x8004103A); an answer of another
class than the one asked for is a failure.
)";

constexpr const char* kPutHelp =
    R"(Usage: veltwmi put CLASS Prop=Value ... [--format F] [--namespace NS]

Writes an instance. When the key properties name an instance the provider already has, the
other properties keep their values and only the named ones change; otherwise a new instance
with these values is created. Prints the instance as the provider stored it, read back by its
keys after the put.
  veltwmi put NorvexJvm_Setting Name=Greeting 'Value=hello there'
)";

constexpr const char* kCallHelp =
    R"(Usage: veltwmi call PATH METHOD Param=Value ... [--format F] [--namespace NS]

Executes METHOD on the instance at PATH (or on the class, for a static method) with the
in-parameters typed by the method's definition, and prints the out-parameters with the
ReturnValue. Out-parameters cannot be given.
  veltwmi call 'NorvexJvm_Runtime.Name="jvm"' CollectGarbage
)";

constexpr const char* kQueryHelp =
    R"(Usage: veltwmi query "WQL" [--format F] [--namespace NS]

Runs a WQL data query through the service and prints what it selects as enum prints:
  SELECT * | Prop, ... FROM Class [WHERE condition]
The condition compares properties with constants (=, <> or !=, <, >, <=, >=; numbers compare
as numbers, strings without regard to case), matches patterns (Name LIKE 'G1%': % any run,
_ one character, [abc], [a-z], [^a]), tests for NULL (IS NULL, IS NOT NULL) and classes
(__THIS ISA 'Class'), joined by AND, OR, NOT and parentheses. A NULL property meets nothing
but IS NULL. Keywords and property names are case-insensitive. Every format shows the
selected properties; each object keeps its path. A malformed query exits 2 with the column
of its fault, marked under the query:
  veltwmi query "SELECT Name, Used FROM NorvexJvm_MemoryPool WHERE Used > 1000000 AND Name LIKE 'G1%'"
)";

constexpr const char* kWatchHelp =
    R"(Usage: veltwmi watch EVENTCLASS|"EVENT QUERY" [--for SECONDS] [--format F] [--namespace NS]

Subscribes to EVENTCLASS, or to the events an event query selects, e.g.
  veltwmi watch "SELECT * FROM NorvexJvm_SettingChanged WHERE Name = 'Greeting'"
(the service filters them by the WHERE condition, written as for query), and prints each event as the provider fires it, until Ctrl-C or for
SECONDS. In a batch the watch runs beside the following commands (so a put of the same
session shows up in it) until its time is up, `wait`, or the batch ends. JSON output is one
object per line. Events that come faster than they can be printed wait in a queue of 10000;
beyond it they are dropped, and the watch says how many at its end. SECONDS beyond a century
(inf among them) are a century.
)";

constexpr const char* kClassesHelp = R"(Usage: veltwmi classes [CLASS] [--format F] [--namespace NS]

The classes of the namespace with their key properties (marked key), their properties with
their CIM types, the methods' signatures and the provider that serves them. --format json
gives objects with class, superclass, provider, keys, properties and methods; --format mof
gives class declarations.
)";

constexpr const char* kMofcompHelp = R"(Usage: veltwmi mofcomp FILE.mof...

Compiles each file into the repository: its class definitions and its provider registrations
(__Win32Provider with its instance, method and event registrations). A file goes in whole or
not at all: on a fault the message names file:line:column, nothing of that file is added, the
files after it are not compiled and the exit code is 3. A class compiled again replaces its
definition; a class that derives from it must stay valid, or the file is refused. A provider
that another veltwmi keeps loaded and that serves a changed class is unloaded there before its
next request. Prints, per file, each class and provider with added, replaced or unchanged:
  gadgets.mof:
    class    root	est:Gadget added
    provider root	est:GadgetProvider added
)";

constexpr const char* kCheckHelp = R"(Usage: veltwmi check [--mof FILE...] [--namespace NS]

Checks every namespace of the repository (or only NS) and prints one line per fault:
  error    a dynamic class without a [key] property, a provider("...") that no
           __Win32Provider registers, a provider with neither an instance nor a method
           registration, an EventQueryList class no MOF declares, a CLSID whose server is not
           registered (VeltProxyProvider -RegServer), an unknown qualifier such as [kye], a
           class of the Java providers that no provider in the jars serves (or that two
           serve), an EventQueryList class no event provider in the jars fires
  warning  a class nothing serves (not dynamic, in no EventQueryList), a provider no class
           names, methods without a method registration, a provider in the jars whose class
           no loaded MOF declares (checked only without --namespace)
The jars are read by the registered server itself (VeltProxyProvider -ListProviders), with the
Java runtime it would use. The last line counts them. Exit 1 when there is an error, 0
otherwise.
)";

constexpr const char* kRunHelp =
    R"(Usage: veltwmi run [SCRIPT | -] [--mof FILE...] [--namespace NS] [--format F]

Runs one command per line in one session, which holds on to the server between them. Lines are
split like a shell's words ('...' and "..." quote, # starts a comment); each line may carry its
own --format and --namespace. Besides the commands above a batch knows:
  echo TEXT...      prints TEXT
  sleep SECONDS     pauses (Ctrl-C ends the pause)
  wait              waits until every watch started so far has ended
The batch stops at the first command that fails and exits with its code.
  printf '%s\n' 'watch NorvexJvm_SettingChanged --for 2' 'put NorvexJvm_Setting Name=A Value=1' |
    veltwmi
)";

}  // namespace

std::string helpText(const std::string& command) {
  if (command == "enum") return kEnumHelp;
  if (command == "get") return kGetHelp;
  if (command == "put") return kPutHelp;
  if (command == "call") return kCallHelp;
  if (command == "watch") return kWatchHelp;
  if (command == "query") return kQueryHelp;
  if (command == "classes") return kClassesHelp;
  if (command == "check") return kCheckHelp;
  if (command == "mofcomp") return kMofcompHelp;
  if (command == "run" || command == "echo" || command == "sleep" || command == "wait") {
    return kRunHelp;
  }
  return kToolHelp;
}

}  // namespace veltwmi
