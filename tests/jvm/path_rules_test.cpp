#include "path_rules.h"

#include <gtest/gtest.h>

#include <string>

using namespace velt::jvm;

TEST(RuntimeBase, CutsTwoCharactersBeforeTheLastSeparator) {
  EXPECT_EQ(runtimeBase("/A/BC/D"), "/A/");
  EXPECT_EQ(runtimeBase("/Tools/Server/D"), "/Tools/Serv");
  // Last separator third character: an empty base, so the candidate stays a relative name.
  EXPECT_EQ(runtimeBase("/a/D"), "");
}

TEST(RuntimeBase, NeedsASeparatorPastTheSecondCharacter) {
  EXPECT_EQ(runtimeBase("D"), std::nullopt);
  EXPECT_EQ(runtimeBase("/D"), std::nullopt);
  EXPECT_EQ(runtimeBase("a/D"), std::nullopt);
}

TEST(FitWholeCharacters, CutsLongTextBetweenCharacters) {
  EXPECT_EQ(fitWholeCharacters("abc", 3), "abc");
  EXPECT_EQ(fitWholeCharacters("abcd", 3), "abc");
  // "\xc3\xa9" is one two-byte character: it goes whole or not at all.
  EXPECT_EQ(fitWholeCharacters("ab\xc3\xa9", 3), "ab");
  EXPECT_EQ(fitWholeCharacters("ab\xe2\x82\xac", 4), "ab");
  EXPECT_EQ(fitWholeCharacters("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
}

TEST(CrashReportPattern, KeepsAPercentOfTheFolderFromTheVmsExpansion) {
  EXPECT_EQ(crashReportPattern("/opt/100%/p%d/"), "/opt/100%%/p%%d/hs_err_pid%p.log");
}
