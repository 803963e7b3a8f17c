// The query language on its own: where a fault is reported, what LIKE matches, and how values of
// each CIM type compare with constants, whether read through an object or from its values.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "bound_query.h"
#include "wmi_model/class_object.h"
#include "wmi_test_support.h"
#include "wql/evaluate.h"
#include "wql/query.h"

namespace velt::wql {
namespace {

ParseError faultOf(std::u16string_view text, QueryKind kind = QueryKind::kData) {
  ParseResult result = parse(text, kind);
  EXPECT_FALSE(result.query) << std::string(text.begin(), text.end());
  return result.error;
}

TEST(WqlParse, FaultsNameTheColumnWhereTheyAre) {
  struct Case {
    std::u16string_view text;
    std::size_t position;
    std::string says;
  };
  const Case cases[] = {
      {u"SELEC * FROM Gadget", 1, "expected SELECT"},
      {u"SELECT * FORM Gadget", 10, "expected FROM"},
      {u"SELECT * FROM Gadget WHERE Name = 'g1", 35, "never closed"},
      {u"SELECT * FROM Gadget WHERE (Size = 1", 37, "expected ')'"},
      {u"SELECT * FROM Gadget WHERE Size = NULL", 35, "IS NULL"},
      {u"SELECT * FROM Gadget WHERE Name LIKE 'g[01'", 38, "never closed"},
      {u"SELECT * FROM Gadget WHERE Size = Name", 35, "constant"},
      {u"SELECT * FROM Gadget WHERE Size ~ 1", 33, "unexpected character"},
      {u"SELECT * FROM Gadget WHERE Size 1", 33, "expected a comparison"},
      {u"SELECT * FROM Gadget WITHIN 5", 22, "unexpected 'WITHIN'"},
      {u"SELECT * FROM Gadget Extra", 22, "unexpected 'Extra'"},
      {u"SELECT Name, FROM Gadget", 14, "expected a property name"},
      {u"SELECT * FROM WHERE", 15, "expected a class name"},
      {u"SELECT * FROM Gadget WHERE", 27, "expected a property name"},
      {u"SELECT * FROM Gadget WHERE Size = 12abc", 37, "run into a name"},
  };
  for (const Case& c : cases) {
    ParseError error = faultOf(c.text);
    EXPECT_EQ(error.position, c.position) << std::string(c.text.begin(), c.text.end());
    EXPECT_NE(error.text().find(c.says), std::string::npos) << error.text();
    EXPECT_EQ(error.text().rfind("position " + std::to_string(c.position) + ": ", 0), 0u);
  }
  EXPECT_EQ(faultOf(u"SELECT Name FROM GadgetChanged", QueryKind::kEvent).position, 8u);
  EXPECT_EQ(faultOf(u"SELECT * FROM GadgetChanged WITHIN -1", QueryKind::kEvent).position, 36u);
}

TEST(WqlParse, AcceptsTheWholeGrammarWithKeywordsInAnyCase) {
  ParseResult data = parse(
      u"select Name, size FROM Gadget where (Size >= -2.5e1 and not Name like \"g[^x]%\") "
      u"Or Tags IS not NULL OR Active = true OR 10 < Size OR Ratio <> 0.5 OR Name != 'a\\'b' "
      u"OR __THIS ISA 'Gadget' OR Name NOT LIKE '_'",
      QueryKind::kData);
  ASSERT_TRUE(data.query) << data.error.text();
  EXPECT_FALSE(data.query->selectAll);
  ASSERT_EQ(data.query->select.size(), 2u);
  EXPECT_EQ(data.query->select[1].path.front(), u"size");
  EXPECT_EQ(data.query->className, u"Gadget");
  ASSERT_TRUE(data.query->where);
  EXPECT_EQ(data.query->where->kind, Condition::Kind::kOr);
  EXPECT_EQ(data.query->where->children.size(), 8u);
  EXPECT_EQ(referencedProperties(*data.query).size(), 11u);

  ParseResult event = parse(u"SELECT * FROM GadgetChanged WITHIN 2 WHERE TargetInstance.Name = 'x'",
                            QueryKind::kEvent);
  ASSERT_TRUE(event.query) << event.error.text();
  EXPECT_EQ(event.query->within, 2.0);
  EXPECT_EQ(event.query->where->property.path.size(), 2u);
}

TEST(WqlParse, HostileInputIsRefusedOrReadWithoutExhaustingTheStack) {
  std::u16string deep = u"SELECT * FROM Gadget WHERE ";
  for (int i = 0; i < 100000; ++i) deep += u"(";
  EXPECT_NE(faultOf(deep).message.find("nested deeper than"), std::string::npos);
  std::u16string nots = u"SELECT * FROM Gadget WHERE ";
  for (int i = 0; i < 100000; ++i) nots += u"NOT ";
  EXPECT_NE(faultOf(nots + u"Size = 1").message.find("nested deeper than"), std::string::npos);

  std::u16string fine = u"SELECT * FROM Gadget WHERE ";
  for (int i = 0; i < kMaxNesting; ++i) fine += u"(";
  fine += u"Size = 1";
  for (int i = 0; i < kMaxNesting; ++i) fine += u")";
  EXPECT_TRUE(parse(fine, QueryKind::kData).query);

  // A megabyte of conditions is one flat OR, and a megabyte-long string is one constant.
  std::u16string wide = u"SELECT * FROM Gadget WHERE Size = 0";
  while (wide.size() < (1u << 20)) wide += u" OR Size = 123456";
  ParseResult many = parse(wide, QueryKind::kData);
  ASSERT_TRUE(many.query);
  EXPECT_GT(many.query->where->children.size(), 50000u);
  std::u16string longText =
      u"SELECT * FROM Gadget WHERE Name = '" + std::u16string(1u << 20, u'x') + u"'";
  EXPECT_TRUE(parse(longText, QueryKind::kData).query);
}

TEST(WqlLike, WildcardsAndSetsMatchWithoutRegardToCase) {
  struct Case {
    std::u16string_view pattern, value;
    bool matches;
  };
  const Case cases[] = {
      {u"G1%", u"G1 Old Gen", true},
      {u"g1%", u"G1 Eden", true},
      {u"G1%", u"PS Old", false},
      {u"%Old%", u"G1 Old Gen", true},
      {u"%", u"", true},
      {u"_", u"", false},
      {u"a_c", u"abc", true},
      {u"a_c", u"ac", false},
      {u"[abc]x", u"Bx", true},
      {u"[a-c]x", u"dx", false},
      {u"[^a]x", u"ax", false},
      {u"[^a]x", u"bx", true},
      {u"[%]", u"%", true},
      {u"[_]", u"x", false},
      {u"%a%b%c", u"xxaxxbxxc", true},
      {u"%a%b%c", u"xxaxxbxx", false},
      {u"abc", u"abcd", false},
      {u"[]]", u"]", true},
      {u"%%%%x", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaax", true},
      {u"%a%a%a%a%b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const Case& c : cases) {
    std::optional<LikePattern> pattern = LikePattern::compile(c.pattern, nullptr);
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->matches(c.value), c.matches)
        << std::string(c.pattern.begin(), c.pattern.end()) << " / "
        << std::string(c.value.begin(), c.value.end());
  }
  std::size_t at = 0;
  EXPECT_FALSE(LikePattern::compile(u"ab[cd", &at));
  EXPECT_EQ(at, 2u);
}

class WqlEvaluate : public ::testing::Test {
 protected:
  void SetUp() override {
    using namespace velt::wmi::test;
    m_service.loadMofText(kTestMof, "test.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\test", m_ns.put()), WBEM_S_NO_ERROR);
    ComPtr<IWbemClassObject> kinds(classOf(m_ns.get(), u"Kinds")),
        derived(classOf(m_ns.get(), u"Derived"));
    ASSERT_TRUE(kinds && derived);
    kinds->SpawnInstance(0, m_kinds.put());
    derived->SpawnInstance(0, m_derived.put());
    putText(m_kinds.get(), u"Name", u"Alpha");
    putInt(m_kinds.get(), u"S32", -5);
    putInt(m_kinds.get(), u"U32", 40);
    putText(m_kinds.get(), u"U64", u"18446744073709551615");
    putText(m_kinds.get(), u"S64", u"-9223372036854775808");
    OwnedVariant truth;
    truth.get()->vt = VT_BOOL;
    truth.get()->boolVal = VARIANT_TRUE;
    m_kinds->Put(u"B", 0, truth.get(), 0);
  }
  // Whether `object` meets `condition`, read through the object's interface; the service's
  // reading of the same values in place, bound to the object's layout, must agree whenever
  // the condition is one it can answer in place.
  bool where(IWbemClassObject* object, const std::u16string& condition) {
    ParseResult result = parse(u"SELECT * FROM Kinds WHERE " + condition, QueryKind::kData);
    EXPECT_TRUE(result.query) << result.error.text();
    if (!result.query) return false;
    auto query = std::make_shared<const Query>(std::move(*result.query));
    const bool through = matches(*query->where, object);
    std::optional<velt::wmi::detail::ObjectState> state = velt::wmi::detail::stateOf(object);
    EXPECT_TRUE(state);
    if (!state) return through;
    velt::wmi::detail::BoundQuery bound(query, state->layout);
    std::u16string lowered = condition;
    for (char16_t& c : lowered) c = foldCase(c);
    const bool needsObject =
        lowered.find(u"__") != std::u16string::npos || lowered.find(u"isa") != std::u16string::npos;
    EXPECT_EQ(bound.inPlace(), !needsObject) << std::string(condition.begin(), condition.end());
    if (bound.inPlace()) {
      EXPECT_EQ(bound.matches(state->values), through)
          << std::string(condition.begin(), condition.end());
    }
    return through;
  }

  velt::wmi::Service m_service;
  ComPtr<IWbemServices> m_ns;
  ComPtr<IWbemClassObject> m_kinds, m_derived;
};

TEST_F(WqlEvaluate, NumbersCompareAsNumbersAndSixtyFourBitValuesExactly) {
  EXPECT_TRUE(
      where(m_kinds.get(), u"S32 < 3"));  // as text "-5" < "3" would say the same; -5 < -10 not
  EXPECT_FALSE(where(m_kinds.get(), u"S32 < -10"));
  EXPECT_TRUE(where(m_kinds.get(), u"U32 > 9"));  // as text "40" < "9"
  EXPECT_TRUE(where(m_kinds.get(), u"U32 = 40.0 AND U32 >= '40' AND U32 <> 41"));
  EXPECT_TRUE(where(m_kinds.get(), u"U64 = 18446744073709551615"));
  EXPECT_TRUE(where(m_kinds.get(), u"U64 > 18446744073709551614"));  // equal as doubles
  EXPECT_TRUE(where(m_kinds.get(), u"S64 < -9223372036854775807"));
  EXPECT_TRUE(where(m_kinds.get(), u"S64 < 0 AND U64 > 0"));
  EXPECT_FALSE(where(m_kinds.get(), u"U32 = 'forty'"));
  EXPECT_TRUE(where(m_kinds.get(), u"R64 = 2.5 AND R64 > 2 AND U16 = 7"));  // the class's defaults
}

TEST_F(WqlEvaluate, StringsIgnoreCaseBooleansReadTrueAndFalse) {
  EXPECT_TRUE(where(m_kinds.get(), u"Name = 'ALPHA' AND name = \"alpha\""));
  EXPECT_TRUE(where(m_kinds.get(), u"Name < 'beta' AND Name > 'AARDVARK'"));
  EXPECT_FALSE(where(m_kinds.get(), u"Name <> 'alpha'"));
  EXPECT_TRUE(where(m_kinds.get(), u"Name LIKE 'AL%' AND NOT Name LIKE 'b%'"));
  EXPECT_TRUE(where(m_kinds.get(), u"B = TRUE AND B <> FALSE AND b = 1"));
  EXPECT_FALSE(where(m_kinds.get(), u"B = FALSE"));
}

TEST_F(WqlEvaluate, ANullPropertyMeetsOnlyIsNull) {
  for (const char16_t* condition :
       {u"S8 = 0", u"S8 <> 0", u"S8 < 1", u"S8 >= 0", u"C = 'x'", u"When LIKE '%'", u"Tags = 'a'",
        u"Numbers = 1", u"NoSuchProperty = 1", u"S8 IS NOT NULL"}) {
    EXPECT_FALSE(where(m_kinds.get(), condition)) << std::u16string(condition).size();
  }
  EXPECT_TRUE(where(m_kinds.get(), u"S8 IS NULL AND When is null AND Tags IS NOT NULL"));
  EXPECT_TRUE(where(m_kinds.get(), u"NOT S8 = 0"));
}

TEST_F(WqlEvaluate, IsaFollowsTheSuperclasses) {
  EXPECT_TRUE(where(m_derived.get(), u"__THIS ISA 'Base'"));
  EXPECT_TRUE(where(m_derived.get(), u"__this isa Derived"));
  EXPECT_FALSE(where(m_kinds.get(), u"__THIS ISA 'Base'"));
  EXPECT_TRUE(where(m_derived.get(), u"__CLASS = 'derived' AND (Common = 'base' OR Id = 3)"));
}

}  // namespace
}  // namespace velt::wql
