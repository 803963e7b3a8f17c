// The command line, batch words and the typing of values by their CIM type.
#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <string>
#include <vector>

#include "app.h"

#include "cli_args.h"
#include "commands.h"
#include "value_typing.h"
#include "wait_time.h"
#include "wmi/service.h"

namespace veltwmi {
namespace {

int usageExit(const std::vector<std::string>& args) {
  try {
    parseCommandLine(args);
  } catch (const Failure& failure) {
    return failure.exitCode();
  }
  return -1;
}

TEST(VeltwmiArgs, OptionsMayStandAnywhereAndMofFilesFollowOneOption) {
  Invocation call =
      parseCommandLine({"--mof", "a.mof", "b.MOF", "call", "-f", "json", "Gadget.Name=\"x\"",
                        "Grow", "By=5", "--namespace=root\\t", "Label=a=b"});
  EXPECT_EQ(call.mofFiles, (std::vector<std::string>{"a.mof", "b.MOF"}));
  EXPECT_EQ(call.command.name, "call");
  // The path's own '=' does not make it an assignment: operands come first.
  EXPECT_EQ(call.command.operands, (std::vector<std::string>{"Gadget.Name=\"x\"", "Grow"}));
  ASSERT_EQ(call.command.assignments.size(), 2u);
  EXPECT_EQ(call.command.assignments[1].name, "Label");
  EXPECT_EQ(call.command.assignments[1].value, "a=b");
  EXPECT_EQ(call.command.format, Format::kJson);
  EXPECT_EQ(call.command.nameSpace, "root\\t");

  Invocation watch = parseCommandLine({"watch", "E", "--for", "2.5"});
  EXPECT_EQ(watch.command.forSeconds, 2.5);
  Invocation help = parseCommandLine({"put", "--help"});
  EXPECT_TRUE(help.command.help);  // help needs no operands
  EXPECT_TRUE(parseCommandLine({}).command.name.empty());
}

// `watch --for` and `sleep` take any number of seconds; those the clock cannot hold used to
// overflow into a time already past.
TEST(VeltwmiArgs, SecondsBeyondTheClockWaitForEver) {
  auto from = std::chrono::steady_clock::now();
  for (double seconds : {1e10, 1e300, std::numeric_limits<double>::infinity()}) {
    EXPECT_GT(deadlineAfter(seconds, from) - from, std::chrono::hours(24 * 365 * 99)) << seconds;
  }
  EXPECT_EQ(deadlineAfter(2.5, from) - from, std::chrono::milliseconds(2500));
}

TEST(VeltwmiArgs, FaultsAreUsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"frobnicate"},
           {"enum"},
           {"enum", "A", "B"},
           {"put", "Gadget"},
           {"put", "Gadget", "1x=2"},
           {"get", "P", "--bogus"},
           {"--format", "xml", "enum", "A"},
           {"--format"},
           {"enum", "A", "--for", "2"},
           {"watch", "E", "--for", "-1"},
           {"watch", "E", "--for", "soon"},
       }) {
    EXPECT_EQ(usageExit(args), kExitUsage) << args[0];
  }
  EXPECT_THROW(parseBatchCommand({"--mof", "x.mof", "enum", "A"}), Failure);
  EXPECT_THROW(parseBatchCommand({"run", "script"}), Failure);
}

TEST(VeltwmiArgs, BatchLinesSplitLikeShellWords) {
  EXPECT_EQ(
      splitWords(R"(put Gadget Name="a b" 'Tags={"x,y", z}' Note=it\'s  # rest)"),
      (std::vector<std::string>{"put", "Gadget", "Name=a b", R"(Tags={"x,y", z})", "Note=it's"}));
  EXPECT_EQ(splitWords(R"(get "G.Name=\"q\\\"")"),
            (std::vector<std::string>{R"(get)", R"(G.Name="q\")"}));
  EXPECT_TRUE(splitWords("   # only a comment").empty());
  EXPECT_EQ(splitWords("echo ''"), (std::vector<std::string>{"echo", ""}));
  EXPECT_THROW(splitWords("get 'open"), Failure);
  EXPECT_THROW(splitWords("get \"open"), Failure);
}

// A bare class and a path with its namespace are the session tests' (get checks its path).
TEST(VeltwmiArgs, ClassOfPath) {
  EXPECT_EQ(classOfPath("Gadget.Name=\"a:b\""), "Gadget");
  EXPECT_EQ(classOfPath("Settings=@"), "Settings");
}

struct Typed {
  Typed(CIMTYPE type, const std::string& text) { typedValue(type, text, "P", value.get()); }
  VARIANT& v() { return *value.get(); }
  OwnedVariant value;
};

TEST(VeltwmiValues, IntegersTakeWmisVariantFormsAndTheirRanges) {
  EXPECT_EQ(Typed(CIM_UINT32, "4294967295").v().lVal, -1);  // uint32 rides in a VT_I4
  EXPECT_EQ(Typed(CIM_UINT32, "0x10").v().vt, VT_I4);
  EXPECT_EQ(Typed(CIM_UINT32, "0x10").v().lVal, 16);
  EXPECT_EQ(Typed(CIM_SINT8, "-128").v().vt, VT_I2);
  EXPECT_EQ(Typed(CIM_UINT8, "255").v().vt, VT_UI1);
  EXPECT_EQ(Typed(CIM_UINT16, "65535").v().lVal, 65535);
  Typed big(CIM_UINT64, "18446744073709551615");
  ASSERT_EQ(big.v().vt, VT_BSTR);  // 64-bit integers travel as decimal text
  EXPECT_EQ(std::u16string(big.v().bstrVal), u"18446744073709551615");
  EXPECT_EQ(std::u16string(Typed(CIM_SINT64, "-0x10").v().bstrVal), u"-16");
  for (auto [type, text] : std::vector<std::pair<CIMTYPE, std::string>>{
           {CIM_UINT8, "256"},
           {CIM_SINT8, "-129"},
           {CIM_UINT32, "-1"},
           {CIM_UINT32, "4294967296"},
           {CIM_SINT32, "2147483648"},
           {CIM_UINT64, "18446744073709551616"},
           {CIM_SINT16, "12abc"},
           {CIM_SINT32, "1.5"},
       }) {
    OwnedVariant out;
    try {
      typedValue(type, text, "Size", out.get());
      ADD_FAILURE() << text << " was accepted as " << cimTypeName(type);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.exitCode(), kExitUsage);
      EXPECT_NE(std::string(failure.what()).find("Size: '" + text + "' is not a"),
                std::string::npos);
    }
  }
}

TEST(VeltwmiValues, OtherScalarsAndNull) {
  EXPECT_EQ(Typed(CIM_BOOLEAN, "Yes").v().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Typed(CIM_BOOLEAN, "false").v().boolVal, VARIANT_FALSE);
  EXPECT_THROW(Typed(CIM_BOOLEAN, "maybe"), Failure);
  EXPECT_EQ(Typed(CIM_REAL64, "2.5e3").v().dblVal, 2500.0);
  EXPECT_EQ(Typed(CIM_REAL32, "0.5").v().vt, VT_R4);
  EXPECT_THROW(Typed(CIM_REAL32, "1e39"), Failure);
  EXPECT_EQ(Typed(CIM_CHAR16, "\xc3\xa9").v().iVal, 0xe9);  // one character, not one byte
  EXPECT_THROW(Typed(CIM_CHAR16, "ab"), Failure);
  EXPECT_EQ(Typed(CIM_DATETIME, "20261206211000.000000+000").v().vt, VT_BSTR);
  EXPECT_THROW(Typed(CIM_DATETIME, "2026-12-06"), Failure);
  EXPECT_EQ(Typed(CIM_UINT32, "").v().vt, VT_NULL);
  Typed empty(CIM_STRING, "");
  ASSERT_EQ(empty.v().vt, VT_BSTR);  // an empty string stays a string
  EXPECT_EQ(SysStringLen(empty.v().bstrVal), 0u);
}

TEST(VeltwmiValues, ArraysSplitOnCommasOutsideQuotes) {
  EXPECT_EQ(splitArrayItems(R"({a, "b,c" , "say \"hi\"",d })"),
            (std::vector<std::string>{"a", "b,c", "say \"hi\"", "d"}));
  EXPECT_EQ(splitArrayItems("1,2"), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(splitArrayItems("{}").empty());
  EXPECT_THROW(splitArrayItems(R"({"open})"), Failure);
  EXPECT_THROW(splitArrayItems(R"({"a" b})"), Failure);

  Typed numbers(CIM_SINT32 | CIM_FLAG_ARRAY, "{1, -2, 0x3}");
  ASSERT_EQ(numbers.v().vt, VT_ARRAY | VT_I4);
  LONG index = 1, second = 0;
  SafeArrayGetElement(numbers.v().parray, &index, &second);
  EXPECT_EQ(second, -2);
  Typed strings(CIM_STRING | CIM_FLAG_ARRAY, R"({"x,y", z})");
  ASSERT_EQ(strings.v().vt, VT_ARRAY | VT_BSTR);
  BSTR first = nullptr;
  index = 0;
  SafeArrayGetElement(strings.v().parray, &index, &first);
  EXPECT_EQ(std::u16string(first), u"x,y");
  SysFreeString(first);
  EXPECT_EQ(Typed(CIM_STRING | CIM_FLAG_ARRAY, "{}").v().vt, VT_ARRAY | VT_BSTR);
  EXPECT_THROW(Typed(CIM_UINT8 | CIM_FLAG_ARRAY, "1,300"), Failure);
  EXPECT_THROW(Typed(CIM_UINT8 | CIM_FLAG_ARRAY, "1,,2"), Failure);
}

// The sample's class names in a text: words that start with "Norvex" and hold a "_".
// (By hand: GCC's sanitizer build warns inside std::regex.)
std::vector<std::string> sampleClassNamesIn(const std::string& text) {
  auto inWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::vector<std::string> names;
  for (size_t at = text.find("Norvex"); at != std::string::npos; at = text.find("Norvex", at)) {
    size_t end = at;
    while (end < text.size() && inWord(text[end])) ++end;
    if ((at == 0 || !inWord(text[at - 1])) && text.find('_', at) < end) {
      names.push_back(text.substr(at, end - at));
    }
    at = end;
  }
  return names;
}

// Every class the usage texts show is one the sample declares, so each example can be run.
TEST(VeltwmiHelp, ExamplesUseTheClassesThatShip) {
  velt::wmi::Service sample;
  sample.loadMof(VELT_SAMPLE_MOF);
  ComPtr<IWbemServices> ns;
  ASSERT_EQ(sample.openNamespace(u"root\\norvex\\sample", ns.put()), WBEM_S_NO_ERROR);
  int examples = 0;
  for (const char* command : {"", "enum", "get", "put", "call", "watch", "classes", "run"}) {
    std::string text = helpText(command);
    for (const std::string& example : sampleClassNamesIn(text)) {
      ComPtr<IWbemClassObject> cls;
      UniqueBstr name = bstrFromUtf8(example);
      EXPECT_EQ(ns->GetObject(name.get(), 0, nullptr, cls.put(), nullptr), WBEM_S_NO_ERROR)
          << example << " in the help of '" << command << "'";
      ++examples;
    }
  }
  EXPECT_GE(examples, 6);
  ns = {};
  sample.shutdown();
}

}  // namespace
}  // namespace veltwmi
