#include <comdef.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>

TEST(ComErrorTest, CarriesItsHresultThroughThrowAndCopy) {
  try {
    _com_issue_error(E_OUTOFMEMORY);
    FAIL() << "nothing thrown";
  } catch (const _com_error& error) {
    const _com_error copy = error;
    EXPECT_EQ(copy.Error(), E_OUTOFMEMORY);
  }
}

TEST(ComErrorTest, MessageNamesKnownCodesAndQuotesUnknownOnes) {
  EXPECT_EQ(std::string(_com_error(DISP_E_TYPEMISMATCH).ErrorMessage()), "Type mismatch.");
  EXPECT_EQ(std::string(_com_error(static_cast<HRESULT>(0x8004DEAD)).ErrorMessage()),
            "Unknown error 0x8004DEAD");
}
