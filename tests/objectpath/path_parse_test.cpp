// Path texts as WMI sends them; a single backslash in a literal below is written \\.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "objectpath/object_path.h"

namespace {

struct Expected {
  std::string server, nameSpace, className;
};

void expectFields(const ObjectPath& path, const Expected& expected) {
  EXPECT_EQ(path.getServer(), expected.server);
  EXPECT_EQ(path.getNamespace(), expected.nameSpace);
  EXPECT_EQ(path.modelClass(), expected.className);
}

std::string invalidArgumentOf(const char* text) {
  try {
    WbemObjectPath parsed(text);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "no error";
}

}  // namespace

TEST(PathGrammarTest, ServerNamespaceClassAndKeysWithEveryBackslashDoubledOrNot) {
  const WbemObjectPath plain("\\\\srv\\root\\cimv2:Disk.Name=\"C:\",Id=3");
  const WbemObjectPath doubled("\\\\\\\\srv\\\\root\\\\cimv2:Disk.Name=\"C:\",Id=3");
  for (const WbemObjectPath* path : {&plain, &doubled}) {
    expectFields(*path, {"srv", "root\\cimv2", "Disk"});
    EXPECT_EQ(path->getKeys().count(), 2);
    EXPECT_EQ(path->getKeys().get("Name"), "C:");
    EXPECT_EQ(path->getKeys().get("Id"), "3");
  }
}

TEST(PathGrammarTest, OptionalParts) {
  expectFields(WbemObjectPath(""), {"", "", ""});
  expectFields(WbemObjectPath(static_cast<const char*>(nullptr)), {"", "", ""});
  expectFields(WbemObjectPath("Win32_Thing"), {"", "", "Win32_Thing"});
  expectFields(WbemObjectPath("Win32_Thing."), {"", "", "Win32_Thing"});
  expectFields(WbemObjectPath("\\\\srv:Disk"), {"srv", "", "Disk"});
  expectFields(WbemObjectPath("\\\\srv"), {"srv", "", ""});
  expectFields(WbemObjectPath("\\\\.\\root:Disk"), {".", "root", "Disk"});
  expectFields(WbemObjectPath("\\\\srv\\root\\a\\b:Disk"), {"srv", "root\\a\\b", "Disk"});
  expectFields(WbemObjectPath("\\\\srv\\:Disk"), {"srv", "", "Disk"});
  EXPECT_EQ(WbemObjectPath("Disk").getKeys().count(), 0);
}

TEST(PathGrammarTest, TextEndsAtTheFirstNul) {
  const std::string withNul("Disk.Id=1\0,Other=2", 18);
  const WbemObjectPath path(withNul);
  EXPECT_EQ(path.getKeys().count(), 1);
  EXPECT_EQ(path.getKeys().get("Id"), "1");
}

TEST(PathGrammarTest, MalformedPathsRaiseTheirFixedMessage) {
  EXPECT_EQ(invalidArgumentOf("root\\cimv2:Disk"), "invalid model class value.");
  EXPECT_EQ(invalidArgumentOf("Disk=@"), "invalid model class value.");
  EXPECT_EQ(invalidArgumentOf("\\\\srv:1Disk"), "invalid model class value.");
  EXPECT_EQ(invalidArgumentOf("Di\xC3\xA9sk"), "invalid model class value.");
  EXPECT_EQ(invalidArgumentOf("\\\\srv\\root\\my-space:Disk"), "invalid namespace path value.");
  EXPECT_EQ(invalidArgumentOf("\\\\srv\\root\\_x:Disk"), "invalid namespace path value.");
  EXPECT_EQ(invalidArgumentOf("Disk.Na me=1"), "illegal property name.");
  EXPECT_EQ(invalidArgumentOf("Disk._Id=1"), "illegal property name.");
  EXPECT_EQ(invalidArgumentOf("Disk.Id =1"), "illegal property name.");
  EXPECT_EQ(invalidArgumentOf("Disk.Id\xFF=1"), "illegal property name.");
  EXPECT_THROW(WbemObjectPath("Disk.Id=\""), std::out_of_range);
}

TEST(PathStateTest, FailedSettersKeepTheOldValue) {
  ObjectPath path;
  path.setNamespace("root\\cimv2");
  path.setModelClass("Disk");
  EXPECT_THROW(path.setNamespace("root\\my-space"), std::invalid_argument);
  EXPECT_THROW(path.setModelClass("Di sk"), std::invalid_argument);
  EXPECT_EQ(path.getNamespace(), "root\\cimv2");
  EXPECT_EQ(path.modelClass(), "Disk");
}

TEST(PathStateTest, CopiesCarryTheKeysAndSetKeysReplacesThem) {
  ObjectPath kept;
  kept = WbemObjectPath("\\\\srv\\root:Disk.Id=1");
  EXPECT_EQ(kept.getKeys().get("Id"), "1");
  kept.setKeys(KeyBindings("Other=2"));
  EXPECT_EQ(kept.getKeys().count(), 1);
  EXPECT_EQ(kept.getKeys().get("Other"), "2");
  kept.setKeys(kept.getKeys());
  EXPECT_EQ(kept.getKeys().count(), 1);
}

TEST(PathCompareTest, LetterCaseIsIgnoredEverywhere) {
  const WbemObjectPath a("\\\\SRV\\Root:DISK.ID=\"ABC\"");
  const WbemObjectPath b("\\\\srv\\root:disk.id=\"abc\"");
  EXPECT_EQ(a.compare(b), 0);
  EXPECT_EQ(b.compare(a), 0);
}

TEST(PathCompareTest, OrdersByFieldsThenKeys) {
  EXPECT_LT(WbemObjectPath("A").compare(WbemObjectPath("B")), 0);
  EXPECT_GT(WbemObjectPath("\\\\b:A").compare(WbemObjectPath("\\\\a:B")), 0);
  EXPECT_LT(WbemObjectPath("A.Id=1").compare(WbemObjectPath("A.Id=2")), 0);
  EXPECT_LT(WbemObjectPath("A").compare(WbemObjectPath("A.Id=1")), 0) << "prefix orders first";
  // Bytes of 128 or more order after ASCII.
  EXPECT_LT(WbemObjectPath("A.Id=z").compare(WbemObjectPath("A.Id=\xC3\xA9")), 0);
}

TEST(PathCompareTest, ClearedPathEqualsEmptyOne) {
  WbemObjectPath path("\\\\srv\\root:Disk.Id=1");
  path.clear();
  EXPECT_EQ(path.compare(ObjectPath()), 0);
  EXPECT_EQ(path.getKeys().count(), 0);
  expectFields(path, {"", "", ""});
}

TEST(PathRobustnessTest, LongHostileInputsStayLinear) {
  // Quadratic unescaping or recursion would make these take minutes or overflow the stack.
  const std::string backslashes(1 << 20, '\\');
  EXPECT_NO_THROW(WbemObjectPath{backslashes});
  const std::string escaped = "Disk.Id=" + std::string(1 << 20, '\\');
  EXPECT_EQ(WbemObjectPath(escaped).getKeys().get("Id").size(), (1u << 18));
  std::string manyKeys = "Disk.";
  for (int i = 0; i < 20000; ++i) manyKeys += "K" + std::to_string(i) + "=\"v,\",";
  EXPECT_EQ(WbemObjectPath(manyKeys).getKeys().count(), 20000);
}
