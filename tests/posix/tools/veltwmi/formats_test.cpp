// The four output formats and the class listing, on objects of a static class.
#include <gtest/gtest.h>

#include <sstream>

#include "class_info.h"
#include "formatter.h"
#include "value_typing.h"
#include "wmi/service.h"

namespace veltwmi {
namespace {

const char* const kMof = R"MOF(
#pragma namespace("\\\\.\\root\\fmt")
[dynamic, provider("P"), Description("A \"thing\"")] class Thing {
  [key] string Name; uint32 Count; boolean On; string Tags[]; real64 Ratio; sint64 Big; char16 C;
  uint32 Poke([in] sint32 Times, [in, out] string Note, [out] boolean Done);
  [static, Description("Makes one")] void Make([in, Description("Its name")] string Name);
};
)MOF";

class FormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_service.loadMofText(kMof, "fmt.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\fmt", m_ns.put()), WBEM_S_NO_ERROR);
    UniqueBstr name = bstrFromUtf16(u"Thing");
    ASSERT_EQ(m_ns->GetObject(name.get(), 0, nullptr, m_class.put(), nullptr), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    m_class = {};
    m_ns = {};
    m_service.shutdown();
    EXPECT_EQ(velt::wmi::liveObjectCount(), 0);
  }
  ObjectView thing(const std::vector<std::pair<const char16_t*, std::string>>& values) {
    ComPtr<IWbemClassObject> object;
    m_class->SpawnInstance(0, object.put());
    for (auto& [name, text] : values) {
      CIMTYPE type = 0;
      object->Get(name, 0, nullptr, &type, nullptr);
      OwnedVariant value;
      typedValue(type, text, "test", value.get());
      EXPECT_EQ(object->Put(name, 0, value.get(), 0), WBEM_S_NO_ERROR);
    }
    return viewOf(object.get());
  }
  std::string render(Format format, Shape shape, const std::vector<ObjectView>& views) {
    std::ostringstream out, err;
    Console console(out, err, false);
    auto formatter = makeFormatter(format, shape, console);
    for (const ObjectView& view : views) formatter->object(view);
    formatter->end();
    EXPECT_EQ(err.str(), "");
    return out.str();
  }

  velt::wmi::Service m_service;
  ComPtr<IWbemServices> m_ns;
  ComPtr<IWbemClassObject> m_class;
};

// Every column fits its widest cell as a terminal shows it: a wide character takes two
// columns, a combining mark none. A watch's table cannot wait for its end and streams.
TEST_F(FormatsTest, TableColumnsFitTheirWidestCellByDisplayWidth) {
  ObjectView first = thing({{u"Name", "say \"hi\""},
                            {u"Count", "4000000000"},
                            {u"On", "true"},
                            {u"Tags", R"({a, "b c"})"},
                            {u"Ratio", "0.5"},
                            {u"Big", "-5"}});
  ObjectView second = thing({{u"Name", "a-much-longer-name"}, {u"C", "x"}});
  ObjectView third = thing({{u"Name", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},  // three wide
                            {u"Tags", "{e\xCC\x81, \"\"}"}});                   // e + acute
  EXPECT_EQ(render(Format::kTable, Shape::kMany, {first, second, third}),
            "Name                Count       On    Tags        Ratio  Big  C\n"
            "------------------  ----------  ----  ----------  -----  ---  -\n"
            "say \"hi\"            4000000000  true  {a, \"b c\"}  0.5    -5\n"
            "a-much-longer-name                                            x\n"
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E                                "
            "{e\xCC\x81, \"\"}\n");
  EXPECT_EQ(render(Format::kTable, Shape::kStream, {first, second}),
            "Name      Count       On    Tags        Ratio  Big  C\n"
            "--------  ----------  ----  ----------  -----  ---  -\n"
            "say \"hi\"  4000000000  true  {a, \"b c\"}  0.5    -5\n"
            "a-much-longer-name                                  x\n");
}

// What a table or list shows of an array reads back through put as the same items.
TEST_F(FormatsTest, ArraysPrintAsPutReadsThem) {
  for (const char* tags : {R"({a, "b,c", " pad ", "say \"hi\" \\ok", "{x}", ""})", "{}"}) {
    ObjectView shown = thing({{u"Tags", tags}});
    std::string text = plainText(shown.properties[3]);
    ObjectView pasted = thing({{u"Tags", text}});
    EXPECT_EQ(jsonText(pasted.properties[3]), jsonText(shown.properties[3])) << text;
  }
}

TEST_F(FormatsTest, ListJsonAndMof) {
  ObjectView one = thing({{u"Name", "say \"hi\"\\"},
                          {u"Count", "7"},
                          {u"On", "false"},
                          {u"Tags", R"({a, "b c"})"},
                          {u"Big", "-9223372036854775808"},
                          {u"C", "q"}});
  EXPECT_EQ(render(Format::kList, Shape::kOne, {one}),
            "Name  : say \"hi\"\\\nCount : 7\nOn    : false\nTags  : {a, \"b c\"}\nRatio : \n"
            "Big   : -9223372036854775808\nC     : q\n");
  EXPECT_EQ(
      render(Format::kJson, Shape::kOne, {one}),
      "{\"__CLASS\": \"Thing\", \"__RELPATH\": \"Thing.Name=\\\"say "
      "\\\\\\\"hi\\\\\\\"\\\\\\\\\\\"\", "
      "\"Name\": \"say \\\"hi\\\"\\\\\", \"Count\": 7, \"On\": false, \"Tags\": [\"a\", \"b c\"], "
      "\"Ratio\": null, \"Big\": -9223372036854775808, \"C\": \"q\"}\n");
  EXPECT_EQ(render(Format::kMof, Shape::kOne, {one}),
            "instance of Thing\n{\n    Name = \"say \\\"hi\\\"\\\\\";\n    Count = 7;\n"
            "    On = FALSE;\n    Tags = {\"a\", \"b c\"};\n    Big = -9223372036854775808;\n"
            "    C = \"q\";\n};\n");
}

// A watch's JSON, one event per line, is checked line by line where veltwmi watches.
TEST_F(FormatsTest, JsonShapes) {
  ObjectView a = thing({{u"Name", "a"}}), b = thing({{u"Name", "b"}});
  std::string many = render(Format::kJson, Shape::kMany, {a, b});
  EXPECT_EQ(many.substr(0, 4), "[\n  ");
  EXPECT_EQ(many.substr(many.size() - 4), "}\n]\n");
  EXPECT_NE(many.find("},\n  {"), std::string::npos);
  EXPECT_EQ(render(Format::kJson, Shape::kMany, {}), "[]\n");
}

// The listing marks static methods; the MOF declaration keeps every qualifier and reads back
// as the same class.
TEST_F(FormatsTest, ClassListingNamesKeysTypesAndSignatures) {
  ClassInfo info = classInfoOf(m_class.get());
  std::string listing = classListing(info);
  EXPECT_EQ(listing,
            "Thing  (provider P)\n"
            "  key string    Name\n"
            "      uint32    Count\n"
            "      boolean   On\n"
            "      string[]  Tags\n"
            "      real64    Ratio\n"
            "      sint64    Big\n"
            "      char16    C\n"
            "  method uint32 Poke(in sint32 Times, in, out string Note, out boolean Done)\n"
            "  static method void Make(in string Name)\n");
  std::string mof = classMof(info);
  EXPECT_NE(
      mof.find("[dynamic, provider(\"P\"), Description(\"A \\\"thing\\\"\")]\nclass Thing\n{\n"
               "    [key] string Name;\n"),
      std::string::npos)
      << mof;
  EXPECT_NE(mof.find("    string Tags[];\n"), std::string::npos);
  EXPECT_NE(mof.find("uint32 Poke([in] sint32 Times, [in, out] string Note, [out] boolean Done);"),
            std::string::npos);
  EXPECT_NE(mof.find("    [static, Description(\"Makes one\")] void Make([in, Description(\"Its "
                     "name\")] string Name);\n"),
            std::string::npos)
      << mof;
  velt::wmi::Service again;
  again.loadMofText("#pragma namespace(\"\\\\\\\\.\\\\root\\\\fmt\")\n" + mof, "again.mof");
  ComPtr<IWbemServices> ns;
  ASSERT_EQ(again.openNamespace(u"root\\fmt", ns.put()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> reread;
  UniqueBstr name = bstrFromUtf16(u"Thing");
  ASSERT_EQ(ns->GetObject(name.get(), 0, nullptr, reread.put(), nullptr), WBEM_S_NO_ERROR);
  EXPECT_EQ(classMof(classInfoOf(reread.get())), mof);
  EXPECT_NE(classJson(info).find("\"keys\": [\"Name\"]"), std::string::npos);
  EXPECT_NE(classJson(info).find("\"name\": \"Make\", \"returns\": \"void\", \"static\": true"),
            std::string::npos);
  reread = {};
  ns = {};
  again.shutdown();
}

}  // namespace
}  // namespace veltwmi
