#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "objectpath/property_map.h"

namespace {

std::string messageOf(auto&& call) {
  try {
    call();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "no error";
}

}  // namespace

TEST(PropertyMapTest, AddKeepsTheFirstValueAndFailedAddChangesNothing) {
  PropertyMap map;
  map.add("Name", "first");
  map.add("NAME", "second");
  EXPECT_EQ(map.get("name"), "first");
  EXPECT_EQ(messageOf([&] { map.add("bad name", "x"); }), "illegal property name.");
  EXPECT_EQ(messageOf([&] { map.add("_Name", "x"); }), "illegal property name.");
  EXPECT_EQ(map.count(), 1);
  EXPECT_EQ(map.get("Name"), "first");
}

TEST(PropertyMapTest, TextsEndAtTheirFirstNul) {
  PropertyMap map;
  map.add(std::string("Id\0bad name", 11), std::string("v\0w", 3));
  EXPECT_EQ(map.get("Id"), "v");
}

TEST(PropertyMapTest, GetAndRemoveFindNamesWithoutCase) {
  PropertyMap map;
  map.add("Alpha", "1");
  map.add("beta", "2");
  EXPECT_EQ(messageOf([&] { map.get("gamma"); }), "property not found.");
  map.remove("ALPHA");
  map.remove("missing");
  EXPECT_EQ(map.count(), 1);
  EXPECT_EQ(messageOf([&] { map.get("alpha"); }), "property not found.");
  map.clear();
  EXPECT_EQ(map.count(), 0);
}

TEST(PropertyMapTest, CompareJoinsEntriesInNameOrderIgnoringCase) {
  PropertyMap a, b;
  a.add("b", "2");
  a.add("A", "X");
  b.add("a", "x");
  b.add("B", "2");
  EXPECT_EQ(a.compare(b), 0);
  b.add("c", "");
  EXPECT_LT(a.compare(b), 0);
  EXPECT_GT(b.compare(a), 0);
}

TEST(NoCaseLessTest, FoldsOnlyAsciiLettersAndComparesUnsignedBytes) {
  const NoCaseLess less;
  EXPECT_FALSE(less("ABC", "abc"));
  EXPECT_FALSE(less("abc", "ABC"));
  EXPECT_TRUE(less("ab", "ABC"));
  EXPECT_TRUE(less("Z", "\xC3"));
  EXPECT_TRUE(less("_", "A")) << "upper case orders as lower case, after the underscore";
  EXPECT_TRUE(less("\xC3\x89", "\xC3\xA9")) << "bytes beyond ASCII are not folded";
}
