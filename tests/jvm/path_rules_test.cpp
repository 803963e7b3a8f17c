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

TEST(ProgramDirectory, DropsTheFileNameAndItsSeparator) {
  EXPECT_EQ(programDirectory("/P/server"), "/P");
  EXPECT_EQ(programDirectory("/server"), std::nullopt);
  EXPECT_EQ(programDirectory("server"), std::nullopt);
  EXPECT_EQ(programDirectoryForPath("/P/server"), "/P");
  EXPECT_EQ(programDirectoryForPath("/server"), "/server");
}

TEST(InstallationDirectory, KeepsTheTextUpToItsLastSeparator) {
  EXPECT_EQ(installationDirectory("/Prog/Q/"), "/Prog/Q/");
  EXPECT_EQ(installationDirectory("/Prog/Q"), "/Prog/");
  EXPECT_EQ(installationDirectory("Q"), "");
}

TEST(ExtendedPath, AddsOneSeparatorAndTheDirectory) {
  EXPECT_EQ(extendedPath("/x:", "/P"), "/x:/P");
  EXPECT_EQ(extendedPath("/x", "/P"), "/x:/P");
  // No empty list entry, which would put the current directory on the search path.
  EXPECT_EQ(extendedPath("", "/P"), "/P");
}

TEST(FitWholeCharacters, CutsLongTextBetweenCharacters) {
  EXPECT_EQ(fitWholeCharacters("abc", 3), "abc");
  EXPECT_EQ(fitWholeCharacters("abcd", 3), "abc");
  // "\xc3\xa9" is one two-byte character: it goes whole or not at all.
  EXPECT_EQ(fitWholeCharacters("ab\xc3\xa9", 3), "ab");
  EXPECT_EQ(fitWholeCharacters("ab\xe2\x82\xac", 4), "ab");
  EXPECT_EQ(fitWholeCharacters("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
}
