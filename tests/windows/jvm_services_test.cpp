// The Java runtime services built for Windows, against Wine's loader and file functions: no
// Java runtime is installed in the test prefix, so the search finds none and says so.
#include <gtest/gtest.h>

#include <string>

#include "jvm/JvmServices.h"

TEST(JvmServicesOnWindowsTest, FindsNoRuntimeWhereNoneIsInstalled) {
  JvmServices* services = JvmServices::acquire();
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(services->findCreateJavaVM("jvm.dll"), nullptr);
  EXPECT_EQ(services->findCreateJavaVM("classic\\jvm.dll"), nullptr);
  std::string jarList;
  EXPECT_TRUE(services->buildClassPath(jarList));
  // Windows spellings: the program's folder in backslash form, entries ended by ';'.
  ASSERT_FALSE(jarList.empty());
  EXPECT_EQ(jarList.find('/'), std::string::npos) << jarList;
  EXPECT_EQ(jarList.back(), ';') << jarList;
  JvmServices::release();
}
