#include <gtest/gtest.h>

#include <locale>
#include <string>

#include "objectpath/object_path.h"
#include "objectpath/path_names.h"

TEST(NameRuleTest, EveryByteValueAsFirstAndAsLaterCharacter) {
  const std::locale& classic = std::locale::classic();
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool letter = byte < 128 && std::isalpha(c, classic);
    const bool digit = byte < 128 && std::isdigit(c, classic);
    EXPECT_EQ(isValidName(std::string(1, c)), letter) << byte;
    EXPECT_EQ(isValidName(std::string("a") + c), letter || digit || c == '_') << byte;
    // A setter copies up to the first NUL, which leaves the valid name "a".
    const std::string name = std::string("a") + c;
    ObjectPath path;
    EXPECT_EQ(
        [&] {
          try {
            path.setModelClass(name);
            return true;
          } catch (const std::invalid_argument&) {
            return false;
          }
        }(),
        letter || digit || c == '_' || byte == 0)
        << byte;
  }
}

TEST(NameRuleTest, EmptyPassesAndUnderscoreCannotLead) {
  EXPECT_TRUE(isValidName(""));
  EXPECT_TRUE(isValidName("Win32_Disk_2"));
  EXPECT_FALSE(isValidName("__CLASS"));
  EXPECT_FALSE(isValidName("2Disk"));
}

TEST(NamespaceCheckTest, EveryPieceIncludingEmptyOnesIsChecked) {
  EXPECT_TRUE(isValidNamespace("root\\default\\tests"));
  EXPECT_TRUE(isValidNamespace(""));
  EXPECT_TRUE(isValidNamespace("root\\\\cimv2")) << "an empty piece passes";
  EXPECT_TRUE(isValidNamespace("\\"));
  EXPECT_FALSE(isValidNamespace("root\\my-space"));
  EXPECT_FALSE(isValidNamespace("root\\cimv2\\_x"));
}

TEST(UnescapeTest, DecidesByThePositionsOfTheFirstSigns) {
  EXPECT_EQ(unescapePath("\\\\\\\\srv\\\\root"), "\\\\srv\\root");
  EXPECT_EQ(unescapePath("a=b\\c\"d"), "a=bc\"d");
  EXPECT_EQ(unescapePath("a=b\"c\\d"), "a=b\"c\\d") << "quote before backslash";
  EXPECT_EQ(unescapePath("a\\b=c"), "a\\b=c") << "backslash before equals sign";
  EXPECT_EQ(unescapePath("ab\\c"), "ab\\c") << "no equals sign";
  EXPECT_EQ(unescapePath("a=b"), "a=b");
}

TEST(UnescapeTest, KeepsTheCharacterAfterEachRemovedBackslash) {
  EXPECT_EQ(unescapePath("a=\\\\\\\\"), "a=\\\\");
  EXPECT_EQ(unescapePath("a=\\\\\\"), "a=\\") << "a last lone backslash is dropped";
  EXPECT_EQ(unescapePath("a=\\\"x\\\""), "a=\"x\"");
  EXPECT_EQ(unescapePath("\\\\\\\\"), "\\\\");
}
