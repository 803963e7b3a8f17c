#include <gtest/gtest.h>

#include <stdexcept>

#include "objectpath/property_map.h"

TEST(KeyListQuotingTest, QuotesProtectCommasAndOnlyTheEnclosingPairIsRemoved) {
  const KeyBindings keys("Name=\"a,b\",Id=1");
  EXPECT_EQ(keys.get("Name"), "a,b");
  EXPECT_EQ(keys.get("Id"), "1");
  EXPECT_EQ(KeyBindings("Name=\"abc").get("Name"), "\"abc");
  EXPECT_EQ(KeyBindings("Name=\"a\"b\"").get("Name"), "a\"b");
  EXPECT_EQ(KeyBindings("Name=\"\"").get("Name"), "");
  EXPECT_EQ(KeyBindings("Name=a\"b").get("Name"), "a\"b");
  EXPECT_THROW(KeyBindings("Id=\""), std::out_of_range);
}

TEST(KeyListEntriesTest, EmptyNamesMissingValuesAndExtraSigns) {
  EXPECT_EQ(KeyBindings("Id=1,").count(), 1);
  const KeyBindings emptyName("=5");
  EXPECT_EQ(emptyName.count(), 1);
  EXPECT_EQ(emptyName.get(""), "5");
  EXPECT_EQ(KeyBindings("Flag").get("Flag"), "");
  EXPECT_EQ(KeyBindings("Id==1").get("Id"), "=1");
  EXPECT_EQ(KeyBindings("").count(), 0);
  // The name runs to the equals sign, commas included.
  EXPECT_THROW(KeyBindings(","), std::invalid_argument);
}

TEST(KeyListEntriesTest, RepeatedNamesKeepTheFirstValueWhateverTheCase) {
  const KeyBindings keys("Id=1,ID=2,id=3");
  EXPECT_EQ(keys.count(), 1);
  EXPECT_EQ(keys.get("iD"), "1");
}

TEST(KeyListEntriesTest, BadNameAnywhereFailsTheWholeList) {
  EXPECT_THROW(KeyBindings("Id=1,a,b=2"), std::invalid_argument);
  EXPECT_THROW(KeyBindings("Id=1,2x=2"), std::invalid_argument);
}
